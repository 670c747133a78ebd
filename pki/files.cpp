// What the file helpers share on every system; the calls into the system
// are in files_posix.cpp and files_win32.cpp.

#include "pki/files.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "pki/files_os.h"

namespace veskar::pki {

std::string ErrnoText(int error) { return std::strerror(error); }

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) CloseFd(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) CloseFd(fd_);
    fd_ = other.release();
  }
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

// The descriptor is gone even when closing it fails; never retry it.
int UniqueFd::Close() { return fd_ < 0 ? 0 : CloseFd(release()); }

bool WriteAll(int fd, const void* data, size_t size, std::string* error) {
  const auto* next = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const long written = WriteSome(fd, next, size);
    if (written <= 0) {
      // A write of nothing for a non-empty buffer would repeat for ever.
      if (written == 0) errno = EIO;
      *error = ErrnoText(errno);
      return false;
    }
    next += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, size_t max_size, Bytes* out, std::string* error,
                   int* error_number) {
  int dummy = 0;
  int& failure = error_number ? *error_number : dummy;
  failure = 0;
  out->clear();
  UniqueFd fd;
  uint64_t size = 0;
  if (!OpenRegularFile(path, &fd, &size, &failure, error)) return false;
  const std::string too_large = path + " is larger than " + std::to_string(max_size) + " bytes";
  if (size > max_size) {
    failure = EFBIG;
    *error = too_large;
    return false;
  }
  out->reserve(static_cast<size_t>(size));
  unsigned char chunk[4096];
  for (;;) {
    const long got = ReadSome(fd.get(), chunk, sizeof(chunk));
    if (got < 0) {
      *error = "cannot read " + path + ": " + ErrnoText(errno);
      return false;
    }
    if (got == 0) break;
    // The file may grow while it is read.
    if (out->size() + static_cast<size_t>(got) > max_size) {
      failure = EFBIG;
      *error = too_large;
      return false;
    }
    out->insert(out->end(), chunk, chunk + got);
  }
  return true;
}

bool IsTemporarySuffix(const std::string& suffix) {
  if (suffix.size() != 6) return false;
  for (const char c : suffix) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
#ifdef _WIN32
  // "C:\a\b", "C:/a/b" and "C:b" alike; the root of a drive keeps its slash.
  const size_t slash = path.find_last_of("/\\");
  const size_t drive = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  if (slash == std::string::npos || slash < drive) return drive ? path.substr(0, 2) : ".";
  if (slash == drive) return path.substr(0, drive + 1);
#else
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
#endif
  return path.substr(0, slash);
}

}  // namespace veskar::pki
