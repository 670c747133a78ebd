#include "file_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "pki/folders.h"

namespace veskar_cli {
namespace {

namespace fs = std::filesystem;
namespace pki = veskar::pki;

constexpr size_t kLargestCertificateFile = 1 << 20;

// Where an output goes once links are followed.
struct Target {
  enum Type { kStandardOutput, kNewFile, kRegularFile, kStream } type = kNewFile;
  std::string path;          // the file to write: a link's target for a regular file
  unsigned permissions = 0;  // an existing regular file's
};

std::string KindOfFile(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory:
      return "it is a folder";
    case fs::file_type::socket:
      return "it is a socket";
    case fs::file_type::block:
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
  std::error_code failed;
  const fs::file_status own = fs::symlink_status(path, failed);
  if (failed) {
    if (failed != std::errc::no_such_file_or_directory) {
      *error = "cannot write " + path + ": " + pki::ErrnoText(failed.value());
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
  const fs::file_status info = fs::status(path, failed);
  if (failed) {
    *error = "cannot write " + path + ": it is a link to nothing (" +
             pki::ErrnoText(failed.value()) + ")";
    return false;
  }
  if (IsStandardOutput(path)) {
    target->type = Target::kStandardOutput;
    return true;
  }
  if (info.type() == fs::file_type::character || info.type() == fs::file_type::fifo) {
    target->type = Target::kStream;
    return true;
  }
  if (info.type() != fs::file_type::regular) {
    *error = "will not write " + path + ": " + KindOfFile(info.type());
    return false;
  }
  if (kind == OutputKind::kCertificate && !HoldsCertificate(path)) {
    *error = "will not replace " + path + ": it does not hold a certificate";
    return false;
  }
  if (fs::is_symlink(own)) {
    target->path = fs::canonical(path, failed).string();
    if (failed) {
      *error = "cannot follow the link " + path + ": " + pki::ErrnoText(failed.value());
      return false;
    }
  }
  target->type = Target::kRegularFile;
  target->permissions = static_cast<unsigned>(info.permissions()) & 0777;
  return CanCreate(target->path, error);
}

constexpr size_t kMaxSecret = 1024;

// Reads one line of standard input, at most kMaxSecret bytes and its end.
bool ReadLine(std::string* line) {
  line->clear();
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    if (line->size() > kMaxSecret) return true;  // too long; the caller says so
    line->push_back(static_cast<char>(c));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return !std::ferror(stdin);
}

// Asks on the terminal with echo turned off, restored before returning or
// when a signal ends the run meanwhile.
bool Prompt(const std::string& prompt, std::string* line) {
  const EchoOff quiet;
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  return ReadLine(line);
}

}  // namespace

// On Windows "\\x" and "C:x" are not absolute either: the first is on the
// current drive, the second in that drive's current folder.
std::string AbsolutePath(const std::string& path) {
  if (path.empty() || fs::path(path).is_absolute()) return path;
  std::error_code failed;
  const std::string current = fs::current_path(failed).string();
  if (failed) return path;
  if (path == ".") return current;
  const fs::path absolute = fs::absolute(path, failed);
  return failed ? path : absolute.string();
}

std::string NormalPath(const std::string& path) {
  if (path.empty()) return path;
  fs::path normal = fs::path(AbsolutePath(path)).lexically_normal();
  // "/a/b/" is "/a/b"; "/" and "C:\" stay.
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  std::string text = normal.string();
#ifdef _WIN32
  // Windows' names do not tell case apart.
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
  return text;
}

bool CanCreate(const std::string& path, std::string* error) {
  // The folder part, whichever separator ends it ("." for none).
  const fs::path parent = fs::path(path).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  int failure = 0;
  if (!pki::IsFolder(folder)) {
    *error = "cannot write " + path + ": there is no folder " + folder;
  } else if (!MayAccess(folder, true, &failure)) {
    *error = "cannot write in " + folder + ": " + pki::ErrnoText(failure);
  } else if (pki::IsFolder(path)) {
    *error = "cannot write " + path + ": it is a folder";
  } else {
    return true;
  }
  return false;
}

bool WriteCertificate(const std::string& path, const unsigned char* der, size_t size, bool as_der,
                      std::string* error) {
  pki::X509Ptr certificate = pki::CertificateFromBytes(der, size);
  if (!certificate) {
    *error = "the certificate for " + path + " is not a certificate";
    return false;
  }
  const Bytes encoded = pki::CertificateToDer(certificate.get());
  const std::string text = as_der ? std::string(encoded.begin(), encoded.end())
                                  : pki::CertificateToPem(certificate.get());
  if (text.empty()) {
    *error = "cannot encode the certificate for " + path + ": " + CryptoError();
    return false;
  }
  return WriteOutput(path, text.data(), text.size(), OutputKind::kCertificate, error);
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

std::string SecretOptions(const Options& options, const char* file, const char* value,
                          const char* from_stdin, const char* what, SecretSource* source) {
  *source = {options.Value(file), options.Has(from_stdin)};
  if (!source->file.empty() && source->from_stdin) {
    return std::string("takes ") + file + " or " + from_stdin + ", not both";
  }
  if (source->file.empty() && !source->from_stdin && !StandardInputIsTerminal()) {
    return std::string("needs the ") + what + ": " + file + " " + value + ", " + from_stdin +
           ", or a terminal to ask at";
  }
  return "";
}

bool ReadSecret(const SecretSource& source, const char* what, bool confirm, std::string* secret,
                std::string* error) {
  secret->clear();
  if (!source.file.empty()) {
    Bytes content;
    if (!pki::ReadWholeFile(source.file, 64 * 1024, &content, error)) return false;
    secret->assign(content.begin(), std::find(content.begin(), content.end(), '\n'));
    Cleanse(&content);
    if (!secret->empty() && secret->back() == '\r') secret->pop_back();
  } else if (source.from_stdin) {
    if (!ReadLine(secret)) {
      *error = std::string("cannot read the ") + what + " from standard input";
      return false;
    }
  } else {
    std::string capital = what;
    capital[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capital[0])));
    if (!Prompt(capital + ": ", secret)) {
      *error = std::string("cannot read the ") + what + " from the terminal";
      return false;
    }
    if (confirm && !secret->empty() && secret->size() <= kMaxSecret) {
      std::string again;
      const bool read = Prompt(capital + " again: ", &again);
      const bool same = read && again == *secret;
      Cleanse(&again);
      if (!same) {
        Cleanse(secret);
        *error = std::string("the two ") + what + "s differ";
        return false;
      }
    }
  }
  if (secret->empty() || secret->size() > kMaxSecret) {
    *error =
        std::string("the ") + what + (secret->empty() ? " is empty" : " is longer than 1024 bytes");
    Cleanse(secret);
    return false;
  }
  return true;
}

}  // namespace veskar_cli
