#ifndef VESKAR_PKI_WIN32_ERRORS_H_
#define VESKAR_PKI_WIN32_ERRORS_H_

// Windows only: what the file helpers say about a Win32 error code.

#include <string>

namespace veskar::pki {

// The errno value callers test for (EEXIST, ENOENT, EACCES, ENOSPC, ...)
// that comes closest to the Win32 error `code`; EIO for the rest.
int ErrnoOfWindowsError(unsigned long code);

// The system's text for the Win32 error `code`, without its line break.
std::string WindowsErrorText(unsigned long code);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_WIN32_ERRORS_H_
