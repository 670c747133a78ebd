#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "pki/files.h"
#include "pki/folders.h"

namespace veskar::pki {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsAbsentOrEmptyFolder(const std::string& path, bool* exists, std::string* error) {
  const std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) {
    *exists = false;
    if (errno == ENOENT) return true;
    *error = "cannot use " + path + ": " + ErrnoText(errno);
    return false;
  }
  *exists = true;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      *error = path + " is not empty; a new CA needs an empty or new folder";
      return false;
    }
  }
  return true;
}

bool CreateNewFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  *error = "cannot create " + path + ": " + ErrnoText(errno);
  return false;
}

bool RestrictFolderToOwner(const std::string& path, std::string* error) {
  if (chmod(path.c_str(), 0700) == 0) return true;
  *error = "cannot restrict " + path + ": " + ErrnoText(errno);
  return false;
}

void RemoveFileOrFolder(const std::string& path) {
  if (unlink(path.c_str()) != 0) rmdir(path.c_str());
}

std::string CanonicalPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                             &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

}  // namespace veskar::pki
