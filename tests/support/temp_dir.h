#ifndef VESKAR_TESTS_SUPPORT_TEMP_DIR_H_
#define VESKAR_TESTS_SUPPORT_TEMP_DIR_H_

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

// A fresh directory installed as TMPDIR for the life of the object, removed
// (with whatever is left in it) afterwards.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    const char* base = std::getenv("TMPDIR");
    previous_ = base ? base : "";
    had_previous_ = base != nullptr;
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/veskar-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    path_ = mkdtemp(buffer.data()) ? buffer.data() : "";
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~ScopedTempDir() {
    for (const std::string& name : Files()) unlink((path_ + "/" + name).c_str());
    rmdir(path_.c_str());
    if (had_previous_) {
      setenv("TMPDIR", previous_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

  // Names of the entries in the directory, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path_.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
  std::string previous_;
  bool had_previous_ = false;
};

inline int FileMode(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

#endif  // VESKAR_TESTS_SUPPORT_TEMP_DIR_H_
