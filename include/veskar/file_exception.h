#ifndef VESKAR_FILE_EXCEPTION_H_
#define VESKAR_FILE_EXCEPTION_H_

#include <veskar/cstring.h>
#include <veskar/export.h>

#include <exception>
#include <string>

// CFileException: the framework's file error. The library raises it when a
// file it must remove cannot be removed; it reaches the host, which catches it
// by this type (or as std::exception). The public members keep the
// framework's names.
class VESKAR_API CFileException : public std::exception {
 public:
  // `path` is the file concerned; `os_error` the operating system's error
  // number (errno on POSIX, GetLastError on Windows).
  CFileException(const char* path, long os_error);
  CFileException(const CFileException&) = default;
  CFileException& operator=(const CFileException&) = default;
  ~CFileException() override;

  // "file error on '<path>': <reason>".
  const char* what() const noexcept override { return m_strMessage.c_str(); }

  CString m_strFileName;
  long m_lOsError;

 private:
  std::string m_strMessage;
};

#endif  // VESKAR_FILE_EXCEPTION_H_
