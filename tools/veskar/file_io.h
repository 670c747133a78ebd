#ifndef VESKAR_TOOLS_VESKAR_FILE_IO_H_
#define VESKAR_TOOLS_VESKAR_FILE_IO_H_

#include <string>

#include "os.h"
#include "pki/files.h"
#include "pki/openssl_util.h"

namespace veskar_cli {

using veskar::pki::Bytes;

// Reads all of standard input (a pipe as well as a file). Fails with *error
// when it cannot be read or holds more than `max_size` bytes.
bool ReadStandardInput(size_t max_size, Bytes* out, std::string* error);

// `path` made absolute against the current folder (not resolved), so that a
// toolkit reading it later sees the same file.
std::string AbsolutePath(const std::string& path);

// `path` made absolute with "." and ".." parts and repeated slashes taken
// out (links are not followed), so that two spellings of one name compare
// equal.
std::string NormalPath(const std::string& path);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_FILE_IO_H_
