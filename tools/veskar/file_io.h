#ifndef VESKAR_TOOLS_VESKAR_FILE_IO_H_
#define VESKAR_TOOLS_VESKAR_FILE_IO_H_

// The files the PKI verbs read and write, and the secrets they read.

#include <string>

#include "command.h"
#include "os.h"
#include "pki/files.h"
#include "pki/openssl_util.h"

namespace veskar_cli {

using veskar::pki::Bytes;

// `path` made absolute against the current folder (not resolved), so that a
// toolkit reading it later sees the same file.
std::string AbsolutePath(const std::string& path);

// `path` made absolute with "." and ".." parts and repeated slashes taken
// out (links are not followed), so that two spellings of one name compare
// equal.
std::string NormalPath(const std::string& path);

// What an output holds, which decides how an existing file is treated.
enum class OutputKind {
  // Public: an existing regular file must already hold a certificate and
  // keeps its permissions; a new file is made readable by all.
  kCertificate,
  // Private: a new or replaced regular file is owner-only.
  kSecret,
  // A key made on the spot: only a new owner-only file, never anything
  // that exists (a key written through to a device or a link could end up
  // where it should not).
  kNewKey,
};

// Every file the command writes goes through these two, the way people know
// from other tools' -out options: "-" and a name for standard output (such
// as /dev/stdout) write to standard output; an existing character device or
// FIFO, or a link to one, is written through without being replaced; a link
// to a regular file replaces that file's content and keeps the link; a new
// name becomes a new regular file. A folder, a socket, a block device and a
// link to nothing are refused with the reason.

// Checks, before any work is done, that `path` can take an output of
// `kind`. False with *error saying why not.
bool CheckOutput(const std::string& path, OutputKind kind, std::string* error);

// Writes `size` bytes to `path`. A regular file is replaced as a whole, so
// that readers never see a part. False with *error.
bool WriteOutput(const std::string& path, const void* data, size_t size, OutputKind kind,
                 std::string* error);

// Writes the DER certificate `der` to `path` as an output of kCertificate,
// as PEM unless `as_der`. False with *error.
bool WriteCertificate(const std::string& path, const unsigned char* der, size_t size, bool as_der,
                      std::string* error);

// True when a file named `path` could be made: its folder exists and is
// writable, and `path` is not a folder. Otherwise false with *error.
bool CanCreate(const std::string& path, std::string* error);

bool GoesToStandardOutput(const std::string& path);

// Where a password or protection string comes from. Never a plain argument:
// those show in the process list and the shell's history.
struct SecretSource {
  std::string file;         // the first line of this file, when not empty
  bool from_stdin = false;  // else the first line of standard input
  // else a prompt on the terminal, without echo
};

// Where the secret `what` comes from: the option `file` (named `value` in
// the usage), the flag `from_stdin`, or else a terminal on standard input to
// prompt at. "" or the usage problem.
std::string SecretOptions(const Options& options, const char* file, const char* value,
                          const char* from_stdin, const char* what, SecretSource* source);

// Reads the secret (`what` names it in prompts and errors: "password").
// With `confirm`, a prompt asks twice and the two must match. The line end
// is not part of the secret. Fails with *error for an unreadable file, an
// empty secret, one longer than 1024 bytes, or a mismatch.
bool ReadSecret(const SecretSource& source, const char* what, bool confirm, std::string* secret,
                std::string* error);

using veskar::pki::Cleanse;

// What libcrypto says went wrong, never "".
inline std::string CryptoError() {
  const std::string error = veskar::pki::TakeOpensslError();
  return error.empty() ? "libcrypto failed" : error;
}

// A secret read from the user, overwritten when it goes.
struct SecretText {
  std::string text;
  ~SecretText() { Cleanse(&text); }
};

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_FILE_IO_H_
