#ifndef VESKAR_PKI_FILES_H_
#define VESKAR_PKI_FILES_H_

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

#include "pki/openssl_util.h"

namespace veskar::pki {

// strerror text of an errno value.
std::string ErrnoText(int error);

// Closes the descriptor `fd`. Returns 0 or the errno value.
int CloseFd(int fd);

// Owns a file descriptor (on Windows, one of the C runtime's) and closes it
// when destroyed, ignoring errors; call Close() where a failed close means
// lost data (after writing).
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up ownership without closing.
  int release();
  // Closes the descriptor now. Returns 0 or the errno value of close().
  int Close();

 private:
  int fd_ = -1;
};

// Writes all `size` bytes, retrying interrupted and short writes. On failure
// *error holds the reason and errno is left as the failed write set it.
bool WriteAll(int fd, const void* data, size_t size, std::string* error);

// The folder part of `path` ("." when it has none; on Windows "\\" and
// drive letters count too).
std::string DirectoryOf(const std::string& path);

// Reads all of `path`. Fails (with a message naming the file) when it cannot
// be read or holds more than `max_size` bytes; a file that is larger when
// opened is refused before anything is read, with EFBIG in *error_number.
bool ReadWholeFile(const std::string& path, size_t max_size, Bytes* out, std::string* error,
                   int* error_number = nullptr);

enum class Overwrite { kNever, kReplace };

// Writes `size` bytes to a new file next to `path` with permissions `mode`,
// flushes it to disk, gives it the name `path` and flushes the folder, so
// that readers see either the old content or the new, never a part, and the
// new name survives a power failure once the call returns. With
// Overwrite::kNever an existing `path` makes the call fail with EEXIST in
// *error_number and stay untouched. The temporary file, named `path`
// followed by "." and six letters or digits, never outlives the call unless
// the process dies in it (see RemoveInterruptedWrites).
bool WriteFileAtomically(const std::string& path, const void* data, size_t size, mode_t mode,
                         Overwrite overwrite, std::string* error, int* error_number = nullptr);

// Whether `suffix` is one WriteFileAtomically gives its temporary files
// (six letters or digits).
bool IsTemporarySuffix(const std::string& suffix);

// Removes from `folder` the temporary files that writes by
// WriteFileAtomically left when their process died: regular files of this
// user named "<name>.XXXXXX" (six letters or digits) where `is_ours(name)`
// holds. Only call it while holding the lock that every writer of those
// names holds, or it may take a file from under a running write. Returns
// the number of files removed.
int RemoveInterruptedWrites(const std::string& folder,
                            const std::function<bool(const std::string& name)>& is_ours);

// Removes the file `path`; false when it cannot (ENOENT included).
bool RemoveFile(const std::string& path);

// What a name leads to, without following a symbolic link at its end.
enum class PathKind { kNothing, kEmptyFile, kOther, kUnknown };
PathKind KindOfPath(const std::string& path);

// Creates the folder `path` with `mode`. True when it was created or already
// is a folder.
bool MakeDirectory(const std::string& path, mode_t mode, std::string* error);

// An exclusive lock on a lock file, held until destruction (flock; on
// Windows LockFileEx on the whole file). Serialises writers across threads
// and processes: each lock opens its own descriptor, and the lock belongs to
// that open file.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens (creating it owner-only if needed) and locks `path`, waiting for
  // other holders.
  bool Acquire(const std::string& path, std::string* error);

  // Locks the file `path` itself, for a file that writers replace by
  // renaming a new one over it: after locking, checks that the name still
  // leads to the locked file, and starts over when it does not. Creates the
  // file owner-only when absent, never follows a symbolic link, and refuses
  // anything but a regular file of this user.
  bool AcquireInPlace(const std::string& path, std::string* error);

 private:
  UniqueFd fd_;
};

}  // namespace veskar::pki

#endif  // VESKAR_PKI_FILES_H_
