// The file helpers on Windows. Descriptors are the C runtime's, made from
// Win32 handles where a call needs what the runtime cannot ask for (sharing
// modes, locks, write-through renames). Unix permission bits have no
// meaning here: files take the permissions their folder passes on, and
// folders that must be private are made so by RestrictFolderToOwner.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <random>
#include <utility>

#include "pki/files.h"
#include "pki/files_os.h"
#include "pki/win32_errors.h"

namespace veskar::pki {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A descriptor for `handle`, which it then owns; -1 (and the handle closed)
// when the runtime has no room.
int DescriptorOf(HANDLE handle, int flags) {
  if (handle == INVALID_HANDLE_VALUE) return -1;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) CloseHandle(handle);
  return fd;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Six letters or digits, as on POSIX mkstemp, from a generator seeded once
// per process from the system.
std::string RandomSuffix() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kLetters)) - 2);
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kLetters[pick(generator)];
  return suffix;
}

// `path` made absolute, or `path` itself when it cannot be.
std::string FullPath(const std::string& path) {
  const DWORD length = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::string full(length, '\0');
  const DWORD written = GetFullPathNameA(path.c_str(), length, &full[0], nullptr);
  if (written == 0 || written >= length) return path;
  full.resize(written);
  return full;
}

// Replaces `to` with `from` even while `to` is open (by a lock on it) with
// FILE_SHARE_DELETE, which a plain rename refuses.
bool ReplaceByRename(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  const DWORD failure = GetLastError();
  if (failure != ERROR_ACCESS_DENIED && failure != ERROR_SHARING_VIOLATION) return false;
  // Given full names: Wine's ReplaceFile fails on relative ones.
  const std::string replaced = FullPath(to);
  const std::string replacement = FullPath(from);
  if (ReplaceFileA(replaced.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return true;
  }
  SetLastError(failure);
  return false;
}

bool IsRegularFile(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool LockWholeFile(int fd) {
  OVERLAPPED from_start{};
  return LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from_start) != 0;
}

}  // namespace

int CloseFd(int fd) { return _close(fd) == 0 ? 0 : errno; }

long ReadSome(int fd, void* buffer, size_t size) {
  return _read(fd, buffer, size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size));
}

long WriteSome(int fd, const void* data, size_t size) {
  return _write(fd, data, size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size));
}

bool OpenRegularFile(const std::string& path, UniqueFd* fd, uint64_t* size, int* failure,
                     std::string* error) {
  *fd = UniqueFd(DescriptorOf(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                              _O_RDONLY | _O_BINARY));
  if (!fd->valid()) {
    const DWORD code = GetLastError();
    *failure = ErrnoOfWindowsError(code);
    *error = "cannot open " + path + ": " + WindowsErrorText(code);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(HandleOf(fd->get()), &info) || !IsRegularFile(info)) {
    *failure = EINVAL;
    *error = path + " is not a regular file";
    return false;
  }
  *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, size_t size, mode_t /*mode*/,
                         Overwrite overwrite, std::string* error, int* error_number) {
  int dummy = 0;
  int& failure = error_number ? *error_number : dummy;
  failure = 0;
  std::string temp;
  UniqueFd fd;
  DWORD code = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && !fd.valid() && code == ERROR_FILE_EXISTS; ++attempt) {
    temp = path + "." + RandomSuffix();
    fd = UniqueFd(DescriptorOf(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr),
                               _O_WRONLY | _O_BINARY));
    if (!fd.valid()) code = GetLastError();
  }
  if (!fd.valid()) {
    failure = ErrnoOfWindowsError(code);
    *error = "cannot create a file in " + DirectoryOf(path) + ": " + WindowsErrorText(code);
    return false;
  }
  std::string reason;
  bool ok = WriteAll(fd.get(), data, size, &reason);
  if (!ok) failure = errno;
  if (ok && !FlushFileBuffers(HandleOf(fd.get()))) {
    ok = false;
    failure = ErrnoOfWindowsError(GetLastError());
    reason = WindowsErrorText(GetLastError());
  }
  const int closed = fd.Close();
  if (ok && closed != 0) {
    ok = false;
    failure = closed;
    reason = ErrnoText(closed);
  }
  if (!ok) {
    *error = "cannot write " + path + ": " + reason;
    DeleteFileA(temp.c_str());
    return false;
  }
  // The write-through rename is on disk when it returns, folder entry
  // included; without the replace flag it never takes an existing name.
  ok = overwrite == Overwrite::kReplace
           ? ReplaceByRename(temp, path)
           : MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    code = GetLastError();
    failure = ErrnoOfWindowsError(code);
    *error = failure == EEXIST ? path + " already exists"
                               : "cannot write " + path + ": " + WindowsErrorText(code);
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

int RemoveInterruptedWrites(const std::string& folder,
                            const std::function<bool(const std::string& name)>& is_ours) {
  WIN32_FIND_DATAA entry{};
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    const std::string name = entry.cFileName;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || !IsTemporarySuffix(name.substr(dot + 1)) ||
        !is_ours(name.substr(0, dot)) ||
        (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    if (DeleteFileA((folder + "\\" + name).c_str())) ++removed;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return removed;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

PathKind KindOfPath(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? PathKind::kNothing
                                                                        : PathKind::kUnknown;
  }
  const bool regular =
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  return regular && info.nFileSizeHigh == 0 && info.nFileSizeLow == 0 ? PathKind::kEmptyFile
                                                                      : PathKind::kOther;
}

bool MakeDirectory(const std::string& path, mode_t /*mode*/, std::string* error) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  const DWORD code = GetLastError();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  *error = "cannot create the folder " + path + ": " + WindowsErrorText(code);
  return false;
}

// Closing the descriptor (fd_'s destructor) closes the handle, which
// releases the lock.
FileLock::~FileLock() = default;

bool FileLock::Acquire(const std::string& path, std::string* error) {
  UniqueFd fd(DescriptorOf(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                           _O_RDWR | _O_BINARY));
  if (!fd.valid()) {
    *error = "cannot open the lock file " + path + ": " + WindowsErrorText(GetLastError());
    return false;
  }
  if (!LockWholeFile(fd.get())) {
    *error = "cannot lock " + path + ": " + WindowsErrorText(GetLastError());
    return false;
  }
  fd_ = std::move(fd);
  return true;
}

bool FileLock::AcquireInPlace(const std::string& path, std::string* error) {
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Shared for deletion so that writers can rename a new file over it.
    UniqueFd fd(DescriptorOf(
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
        _O_RDWR | _O_BINARY));
    if (!fd.valid()) {
      *error = "cannot open " + path + ": " + WindowsErrorText(GetLastError());
      return false;
    }
    BY_HANDLE_FILE_INFORMATION locked{};
    if (!GetFileInformationByHandle(HandleOf(fd.get()), &locked) || !IsRegularFile(locked)) {
      *error = path + " is not a regular file";
      return false;
    }
    if (!LockWholeFile(fd.get())) {
      *error = "cannot lock " + path + ": " + WindowsErrorText(GetLastError());
      return false;
    }
    HANDLE named = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION now{};
    const bool same = named != INVALID_HANDLE_VALUE && GetFileInformationByHandle(named, &now) &&
                      now.dwVolumeSerialNumber == locked.dwVolumeSerialNumber &&
                      now.nFileIndexHigh == locked.nFileIndexHigh &&
                      now.nFileIndexLow == locked.nFileIndexLow;
    if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
    if (same) {
      fd_ = std::move(fd);
      return true;
    }
  }
  *error = path + " keeps being replaced";
  return false;
}

}  // namespace veskar::pki
