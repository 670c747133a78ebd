#ifndef VESKAR_TOOLS_VESKAR_SECRET_INPUT_H_
#define VESKAR_TOOLS_VESKAR_SECRET_INPUT_H_

#include <string>

namespace veskar_cli {

// Where a password or protection string comes from. Never a plain argument:
// those show in the process list and the shell's history.
struct SecretSource {
  std::string file;         // the first line of this file, when not empty
  bool from_stdin = false;  // else the first line of standard input
  // else a prompt on the terminal, without echo
};

// True when `source` can give a secret: a file, standard input, or a
// terminal on standard input to prompt at.
bool CanReadSecret(const SecretSource& source);

// Reads the secret (`what` names it in prompts and errors: "password").
// With `confirm`, a prompt asks twice and the two must match. The line end
// is not part of the secret. Fails with *error for an unreadable file, an
// empty secret, one longer than 1024 bytes, or a mismatch.
bool ReadSecret(const SecretSource& source, const char* what, bool confirm, std::string* secret,
                std::string* error);

// Overwrites a secret before its storage is released.
void Wipe(std::string* secret);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_SECRET_INPUT_H_
