#ifndef VESKAR_FILES_INI_FILE_H_
#define VESKAR_FILES_INI_FILE_H_

#include <string>
#include <utility>

namespace veskar {

// The client INI file of one request, owned from creation to removal. Going
// out of scope removes it quietly: the destructor never throws, so it is
// safe while an exception is on its way and a failure there is ignored.
// Remove() is the removal that reports. Either way the file is removed at
// most once.
class IniFile {
 public:
  IniFile() = default;
  // Takes ownership of the file at `path`; an empty path owns nothing.
  explicit IniFile(const char* path);
  IniFile(IniFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  IniFile& operator=(IniFile&& other) noexcept;
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;
  ~IniFile() { RemoveQuietly(); }

  bool owns_file() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

  // Removes the file now; throws CFileException when it cannot. The file is
  // no longer owned either way, so nothing tries again.
  void Remove();
  // Removes the file now, ignoring a failure.
  void RemoveQuietly() noexcept;
  // Gives up ownership, leaving the file in place; returns its path.
  std::string Release();

 private:
  std::string path_;
};

}  // namespace veskar

#endif  // VESKAR_FILES_INI_FILE_H_
