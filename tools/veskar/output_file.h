#ifndef VESKAR_TOOLS_VESKAR_OUTPUT_FILE_H_
#define VESKAR_TOOLS_VESKAR_OUTPUT_FILE_H_

#include <cstddef>
#include <string>

namespace veskar_cli {

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

// True when a file named `path` could be made: its folder exists and is
// writable, and `path` is not a folder. Otherwise false with *error.
bool CanCreate(const std::string& path, std::string* error);

// True when `path` writes to the command's standard output.
bool GoesToStandardOutput(const std::string& path);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_OUTPUT_FILE_H_
