#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "file_io.h"

namespace veskar_cli {
namespace {

namespace pki = veskar::pki;

constexpr size_t kLargestCertificateFile = 1 << 20;

// Where an output goes once links are followed.
struct Target {
  enum Type { kStandardOutput, kNewFile, kRegularFile, kStream } type = kNewFile;
  std::string path;  // the file to write: a link's target for a regular file
  mode_t mode = 0;   // an existing regular file's permissions
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsStandardOutput(const struct stat& info) {
  struct stat out {};
  return fstat(STDOUT_FILENO, &out) == 0 && SameFile(info, out);
}

std::string KindOfFile(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISSOCK(mode)) return "it is a socket";
  if (S_ISBLK(mode)) return "it is a block device";
  return "it is not a file";
}

bool WritableFolder(const std::string& path, std::string* error) {
  const std::string folder = pki::DirectoryOf(path);
  if (!IsDirectory(folder)) {
    *error = "cannot write " + path + ": there is no folder " + folder;
    return false;
  }
  if (access(folder.c_str(), W_OK) != 0) {
    *error = "cannot write in " + folder + ": " + pki::ErrnoText(errno);
    return false;
  }
  return true;
}

bool HoldsCertificate(const std::string& path) {
  Bytes content;
  std::string ignored;
  return pki::ReadWholeFile(path, kLargestCertificateFile, &content, &ignored) &&
         pki::CertificateFromBytes(content.data(), content.size()) != nullptr;
}

bool Resolve(const std::string& path, OutputKind kind, Target* target, std::string* error) {
  target->path = path;
  if (path == "-") {
    if (kind == OutputKind::kNewKey) {
      *error = "a new key goes into a new file, not standard output";
      return false;
    }
    target->type = Target::kStandardOutput;
    return true;
  }
  struct stat own {};
  if (lstat(path.c_str(), &own) != 0) {
    if (errno != ENOENT) {
      *error = "cannot write " + path + ": " + pki::ErrnoText(errno);
      return false;
    }
    target->type = Target::kNewFile;
    return WritableFolder(path, error);
  }
  if (kind == OutputKind::kNewKey) {
    *error = "will not write the new key to " + path +
             ": it already exists (a new key goes only into a new file)";
    return false;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    *error = "cannot write " + path + ": it is a link to nothing (" + pki::ErrnoText(errno) + ")";
    return false;
  }
  if (IsStandardOutput(info)) {
    target->type = Target::kStandardOutput;
    return true;
  }
  if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
    target->type = Target::kStream;
    return true;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "will not write " + path + ": " + KindOfFile(info.st_mode);
    return false;
  }
  if (kind == OutputKind::kCertificate && !HoldsCertificate(path)) {
    *error = "will not replace " + path + ": it does not hold a certificate";
    return false;
  }
  if (S_ISLNK(own.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
      *error = "cannot follow the link " + path + ": " + pki::ErrnoText(errno);
      return false;
    }
    target->path = resolved;
  }
  target->type = Target::kRegularFile;
  target->mode = info.st_mode & 0777;
  return WritableFolder(target->path, error);
}

bool WriteAllTo(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool CheckOutput(const std::string& path, OutputKind kind, std::string* error) {
  Target target;
  return Resolve(path, kind, &target, error);
}

bool GoesToStandardOutput(const std::string& path) {
  Target target;
  std::string ignored;
  return Resolve(path, OutputKind::kSecret, &target, &ignored) &&
         target.type == Target::kStandardOutput;
}

bool WriteOutput(const std::string& path, const void* data, size_t size, OutputKind kind,
                 std::string* error) {
  Target target;
  if (!Resolve(path, kind, &target, error)) return false;
  switch (target.type) {
    case Target::kStandardOutput:
      std::fflush(stdout);
      if (!WriteAllTo(STDOUT_FILENO, data, size)) {
        *error = "cannot write standard output: " + pki::ErrnoText(errno);
        return false;
      }
      return true;
    case Target::kStream: {
      const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      bool ok = fd >= 0 && WriteAllTo(fd, data, size);
      const int failure = errno;
      if (fd >= 0 && close(fd) != 0) ok = false;
      if (!ok) *error = "cannot write " + path + ": " + pki::ErrnoText(failure);
      return ok;
    }
    case Target::kNewFile:
      return pki::WriteFileAtomically(path, data, size,
                                      kind == OutputKind::kCertificate ? 0644 : 0600,
                                      pki::Overwrite::kNever, error);
    case Target::kRegularFile:
      return pki::WriteFileAtomically(target.path, data, size,
                                      kind == OutputKind::kCertificate ? target.mode : 0600,
                                      pki::Overwrite::kReplace, error);
  }
  return false;
}

}  // namespace veskar_cli
