#include "files/ini_file.h"

#include <veskar/file_exception.h>

#include <utility>

#include "platform/env.h"

namespace veskar {

IniFile::IniFile(const char* path) {
  if (path == nullptr) return;
  try {
    path_ = path;
  } catch (...) {
    // Out of memory before the file is owned: it goes at once.
    CurrentEnv()->RemoveFile(path);
    throw;
  }
}

IniFile& IniFile::operator=(IniFile&& other) noexcept {
  if (this != &other) {
    RemoveQuietly();
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

void IniFile::Remove() {
  const std::string path = Release();
  if (path.empty()) return;
  const int error = CurrentEnv()->RemoveFile(path);
  if (error != 0) throw CFileException(path.c_str(), error);
}

void IniFile::RemoveQuietly() noexcept {
  if (path_.empty()) return;
  const std::string path = std::move(path_);
  path_.clear();
  try {
    CurrentEnv()->RemoveFile(path);
  } catch (...) {
    // A platform layer that throws changes nothing: the removal is quiet.
  }
}

std::string IniFile::Release() {
  std::string path = std::move(path_);
  path_.clear();
  return path;
}

}  // namespace veskar
