#include <veskar/file_exception.h>

#include "platform/env.h"

CFileException::CFileException(const char* path, long os_error)
    : m_strFileName(path), m_lOsError(os_error) {
  m_strMessage = "file error on '";
  m_strMessage += path ? path : "";
  m_strMessage += "': ";
  m_strMessage += veskar::OsErrorText(os_error);
}

CFileException::~CFileException() = default;
