#include "output_file.h"

#include <cerrno>
#include <cstdio>

#include "file_io.h"

namespace veskar_cli {
namespace {

namespace pki = veskar::pki;

constexpr size_t kLargestCertificateFile = 1 << 20;

// Where an output goes once links are followed.
struct Target {
  enum Type { kStandardOutput, kNewFile, kRegularFile, kStream } type = kNewFile;
  std::string path;          // the file to write: a link's target for a regular file
  unsigned permissions = 0;  // an existing regular file's
};

std::string KindOfFile(FileType type) {
  switch (type) {
    case FileType::kFolder:
      return "it is a folder";
    case FileType::kSocket:
      return "it is a socket";
    case FileType::kBlockDevice:
      return "it is a block device";
    default:
      return "it is not a file";
  }
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
  FileStatus own;
  int failure = 0;
  if (!StatusOf(path, false, &own, &failure)) {
    if (failure != ENOENT) {
      *error = "cannot write " + path + ": " + pki::ErrnoText(failure);
      return false;
    }
    target->type = Target::kNewFile;
    return CanCreate(path, error);
  }
  if (kind == OutputKind::kNewKey) {
    *error = "will not write the new key to " + path +
             ": it already exists (a new key goes only into a new file)";
    return false;
  }
  FileStatus info;
  if (!StatusOf(path, true, &info, &failure)) {
    *error = "cannot write " + path + ": it is a link to nothing (" + pki::ErrnoText(failure) + ")";
    return false;
  }
  if (info.is_standard_output) {
    target->type = Target::kStandardOutput;
    return true;
  }
  if (info.type == FileType::kCharacterDevice || info.type == FileType::kFifo) {
    target->type = Target::kStream;
    return true;
  }
  if (info.type != FileType::kRegular) {
    *error = "will not write " + path + ": " + KindOfFile(info.type);
    return false;
  }
  if (kind == OutputKind::kCertificate && !HoldsCertificate(path)) {
    *error = "will not replace " + path + ": it does not hold a certificate";
    return false;
  }
  if (own.type == FileType::kLink) {
    target->path = ResolvedPath(path, &failure);
    if (target->path.empty()) {
      *error = "cannot follow the link " + path + ": " + pki::ErrnoText(failure);
      return false;
    }
  }
  target->type = Target::kRegularFile;
  target->permissions = info.permissions;
  return CanCreate(target->path, error);
}

}  // namespace

bool CanCreate(const std::string& path, std::string* error) {
  const std::string folder = pki::DirectoryOf(path);
  int failure = 0;
  if (!IsDirectory(folder)) {
    *error = "cannot write " + path + ": there is no folder " + folder;
  } else if (!MayWriteIn(folder, &failure)) {
    *error = "cannot write in " + folder + ": " + pki::ErrnoText(failure);
  } else if (IsDirectory(path)) {
    *error = "cannot write " + path + ": it is a folder";
  } else {
    return true;
  }
  return false;
}

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
  std::string reason;
  switch (target.type) {
    case Target::kStandardOutput:
      std::fflush(stdout);
      if (!pki::WriteAll(StandardOutputFd(), data, size, &reason)) {
        *error = "cannot write standard output: " + reason;
        return false;
      }
      return true;
    case Target::kStream: {
      pki::UniqueFd stream(OpenForWriting(path));
      int closed = 0;
      if (!stream.valid()) {
        reason = pki::ErrnoText(errno);
      } else if (pki::WriteAll(stream.get(), data, size, &reason) &&
                 (closed = stream.Close()) == 0) {
        return true;
      } else if (closed != 0) {
        reason = pki::ErrnoText(closed);
      }
      *error = "cannot write " + path + ": " + reason;
      return false;
    }
    case Target::kNewFile:
      return pki::WriteFileAtomically(path, data, size,
                                      kind == OutputKind::kCertificate ? 0644 : 0600,
                                      pki::Overwrite::kNever, error);
    case Target::kRegularFile:
      return pki::WriteFileAtomically(target.path, data, size,
                                      kind == OutputKind::kCertificate ? target.permissions : 0600,
                                      pki::Overwrite::kReplace, error);
  }
  return false;
}

}  // namespace veskar_cli
