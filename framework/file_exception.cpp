#include <veskar/file_exception.h>

#include <system_error>

CFileException::CFileException(const char* path, long os_error)
    : m_strFileName(path), m_lOsError(os_error) {
  m_strMessage = "file error on '";
  m_strMessage += path ? path : "";
  m_strMessage += "': ";
  m_strMessage += std::error_code(static_cast<int>(os_error), std::generic_category()).message();
}

CFileException::~CFileException() = default;
