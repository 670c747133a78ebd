#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "pki/files.h"
#include "pki/files_os.h"

namespace veskar::pki {
namespace {

// Flushes the entries of `folder` (a rename or a new link in it) to disk.
// Returns 0 or the errno value; file systems that cannot sync a folder
// (EINVAL) count as done.
int SyncFolder(const std::string& folder) {
  UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  const int failure = fsync(fd.get()) == 0 || errno == EINVAL ? 0 : errno;
  const int closed = fd.Close();
  return failure != 0 ? failure : closed;
}

}  // namespace

int CloseFd(int fd) { return close(fd) == 0 ? 0 : errno; }

long ReadSome(int fd, void* buffer, size_t size) {
  for (;;) {
    const ssize_t got = read(fd, buffer, size);
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

long WriteSome(int fd, const void* data, size_t size) {
  for (;;) {
    const ssize_t written = write(fd, data, size);
    if (written >= 0 || errno != EINTR) return static_cast<long>(written);
  }
}

bool OpenRegularFile(const std::string& path, UniqueFd* fd, uint64_t* size, int* failure,
                     std::string* error) {
  *fd = UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd->valid()) {
    *failure = errno;
    *error = "cannot open " + path + ": " + ErrnoText(*failure);
    return false;
  }
  struct stat info {};
  if (fstat(fd->get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *failure = EINVAL;
    *error = path + " is not a regular file";
    return false;
  }
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, size_t size, mode_t mode,
                         Overwrite overwrite, std::string* error, int* error_number) {
  int dummy = 0;
  int& failure = error_number ? *error_number : dummy;
  failure = 0;
  std::string temp = path + ".XXXXXX";
  UniqueFd fd(mkostemp(&temp[0], O_CLOEXEC));
  if (!fd.valid()) {
    failure = errno;
    *error = "cannot create a file in " + DirectoryOf(path) + ": " + ErrnoText(failure);
    return false;
  }
  std::string reason;
  bool ok = fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), data, size, &reason) &&
            fsync(fd.get()) == 0;
  if (!ok) failure = errno;
  const int closed = fd.Close();
  if (ok && closed != 0) {
    ok = false;
    failure = closed;
  }
  if (!ok) {
    *error = "cannot write " + path + ": " + ErrnoText(failure);
    unlink(temp.c_str());
    return false;
  }
  if (overwrite == Overwrite::kReplace) {
    ok = rename(temp.c_str(), path.c_str()) == 0;
  } else {
    // link() never replaces an existing name, which makes the existence
    // check and the naming one step.
    ok = link(temp.c_str(), path.c_str()) == 0;
  }
  if (!ok) {
    failure = errno;
    *error = failure == EEXIST ? path + " already exists"
                               : "cannot write " + path + ": " + ErrnoText(failure);
  }
  if (overwrite == Overwrite::kNever || !ok) unlink(temp.c_str());
  if (!ok) return false;
  failure = SyncFolder(DirectoryOf(path));
  if (failure != 0) {
    *error = "cannot make " + path + " durable: " + ErrnoText(failure);
    // A new name nobody was told about goes again; a replaced file keeps
    // its new content, which is all that can be said of it.
    if (overwrite == Overwrite::kNever) unlink(path.c_str());
    return false;
  }
  return true;
}

int RemoveInterruptedWrites(const std::string& folder,
                            const std::function<bool(const std::string& name)>& is_ours) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || !IsTemporarySuffix(name.substr(dot + 1)) ||
        !is_ours(name.substr(0, dot))) {
      continue;
    }
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
      continue;
    }
    if (unlink(path.c_str()) == 0) ++removed;
  }
  closedir(dir);
  if (removed > 0) SyncFolder(folder);
  return removed;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

PathKind KindOfPath(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0)
    return errno == ENOENT ? PathKind::kNothing : PathKind::kUnknown;
  return S_ISREG(info.st_mode) && info.st_size == 0 ? PathKind::kEmptyFile : PathKind::kOther;
}

bool MakeDirectory(const std::string& path, mode_t mode, std::string* error) {
  if (mkdir(path.c_str(), mode) == 0) return true;
  const int failure = errno;
  struct stat info {};
  if (failure == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  *error = "cannot create the folder " + path + ": " + ErrnoText(failure);
  return false;
}

// Closing the last descriptor (fd_'s destructor) releases the lock.
FileLock::~FileLock() = default;

bool FileLock::Acquire(const std::string& path, std::string* error) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    *error = "cannot open the lock file " + path + ": " + ErrnoText(errno);
    return false;
  }
  while (flock(fd.get(), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    *error = "cannot lock " + path + ": " + ErrnoText(errno);
    return false;
  }
  fd_ = std::move(fd);
  return true;
}

bool FileLock::AcquireInPlace(const std::string& path, std::string* error) {
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
      *error = "cannot open " + path + ": " + ErrnoText(errno);
      return false;
    }
    while (flock(fd.get(), LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      *error = "cannot lock " + path + ": " + ErrnoText(errno);
      return false;
    }
    struct stat locked {};
    struct stat named {};
    if (fstat(fd.get(), &locked) != 0 || !S_ISREG(locked.st_mode)) {
      *error = path + " is not a regular file";
      return false;
    }
    // Someone else's file in a shared folder is not ours to rewrite.
    if (locked.st_uid != geteuid()) {
      *error = path + " belongs to another user";
      return false;
    }
    if (stat(path.c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
        named.st_ino == locked.st_ino) {
      fd_ = std::move(fd);
      return true;
    }
  }
  *error = path + " keeps being replaced";
  return false;
}

}  // namespace veskar::pki
