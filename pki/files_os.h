#ifndef VESKAR_PKI_FILES_OS_H_
#define VESKAR_PKI_FILES_OS_H_

// The few calls into the system that the shared parts of the file helpers
// (files.cpp) are built on; files_posix.cpp and files_win32.cpp have them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "pki/files.h"

namespace veskar::pki {

// Reads or writes at most `size` bytes: the count done, 0 at the end of a
// file, -1 with errno on failure (interrupted calls are retried).
long ReadSome(int fd, void* buffer, size_t size);
long WriteSome(int fd, const void* data, size_t size);

// Opens the regular file `path` for reading and says how large it is. On
// failure *failure is the errno value (EINVAL for anything but a regular
// file) and *error says why, naming the file.
bool OpenRegularFile(const std::string& path, UniqueFd* fd, uint64_t* size, int* failure,
                     std::string* error);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_FILES_OS_H_
