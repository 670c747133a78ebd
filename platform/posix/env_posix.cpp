// POSIX implementation of the platform layer.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <system_error>

#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include "platform/env.h"

namespace veskar {
namespace {

// The platform's file name for a toolkit module name: "cmsapi32" becomes
// "libcmsapi32.so", found through the loader's own search path.
std::string ModuleFileName(const char* module_name) {
  return std::string("lib") + module_name + ".so";
}

// ELF symbols carry no stdcall decoration: "_CMSLogin@24" is "CMSLogin".
std::string UndecoratedName(const char* decorated_name) {
  std::string name(decorated_name);
  if (!name.empty() && name[0] == '_') name.erase(0, 1);
  const size_t at = name.rfind('@');
  if (at != std::string::npos) name.erase(at);
  return name;
}

int RenameNoReplaceImpl(const char* from, const char* to) {
#if defined(__linux__) && defined(SYS_renameat2)
  // RENAME_NOREPLACE makes the existence check and the rename one step.
  constexpr unsigned int kRenameNoReplace = 1;
  if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace) == 0) return 0;
  if (errno != ENOSYS && errno != EINVAL) return errno;
#endif
  // Fallback without the atomic rename: link() never replaces its target.
  if (link(from, to) != 0) return errno;
  if (unlink(from) != 0) {
    const int error = errno;
    unlink(to);
    return error;
  }
  return 0;
}

// What CreateUniqueFile makes, and nothing another user could put under its
// name: a regular, empty, owner-only file of ours with a single link.
bool IsFreshFileOfOurs(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1 &&
         (info.st_mode & 077) == 0 && info.st_size == 0;
}

// Four-digit numbers tried before unique names take a longer random one.
constexpr int kShortNameTries = 64;
constexpr int kLongNameTries = 16;

class PosixEnv : public Env {
 public:
  void* LoadModule(const char* module_name) override {
    return dlopen(ModuleFileName(module_name).c_str(), RTLD_NOW | RTLD_LOCAL);
  }

  void FreeModule(void* module) override { dlclose(module); }

  void* FindEntry(void* module, const char* decorated_name) override {
    return dlsym(module, UndecoratedName(decorated_name).c_str());
  }

  std::string TempDirectory() override {
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && tmpdir[0] != '\0') return tmpdir;
    return "/tmp";
  }

  int CreateUniqueFile(const std::string& directory, const std::string& prefix,
                       std::string* path) override {
    static std::atomic<unsigned int> counter{0};
    const std::string stem = directory + "/" + prefix.substr(0, 3);
    // Different processes start from different numbers; a clash only costs
    // another try.
    unsigned int number = static_cast<unsigned int>(getpid()) * 2654435761u +
                          counter.fetch_add(0x9e37u, std::memory_order_relaxed);
    for (int attempt = 0; attempt < kShortNameTries + kLongNameTries; ++attempt) {
      char hex[32];
      if (attempt < kShortNameTries) {
        std::snprintf(hex, sizeof hex, "%X", number & 0xFFFFu ? number & 0xFFFFu : 1u);
        number += 1 + counter.fetch_add(1, std::memory_order_relaxed);
      } else {
        // The four-digit numbers are few enough for someone to take them
        // all; these are not.
        std::random_device entropy;
        std::snprintf(hex, sizeof hex, "%04X%08X%04X", number & 0xFFFFu, entropy(),
                      entropy() & 0xFFFFu);
      }
      std::string candidate = stem + hex + ".tmp";
      const int fd =
          open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        close(fd);
        *path = std::move(candidate);
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  int RenameNoReplace(const std::string& from, const std::string& to) override {
    return RenameNoReplaceImpl(from.c_str(), to.c_str());
  }

  int WriteExistingFile(const std::string& path, const void* data, size_t size) override {
    // O_NONBLOCK: a fifo planted under the name must not hang the open.
    const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    // A symbolic link (ELOOP) or a fifo nobody reads (ENXIO) is not our file.
    if (fd < 0) return errno == ELOOP || errno == ENXIO ? EPERM : errno;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !IsFreshFileOfOurs(info)) {
      close(fd);
      return EPERM;
    }
    const char* bytes = static_cast<const char*>(data);
    int error = 0;
    while (size > 0) {
      const ssize_t written = write(fd, bytes, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        error = errno;
        break;
      }
      bytes += written;
      size -= static_cast<size_t>(written);
    }
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
  }

  int RemoveFile(const std::string& path) override { return unlink(path.c_str()) == 0 ? 0 : errno; }
};

}  // namespace

Env* Env::Default() {
  // Built in static storage and never destroyed: the unload path still needs
  // it after static destructors may have run, and nothing is left to leak.
  alignas(PosixEnv) static unsigned char storage[sizeof(PosixEnv)];
  static PosixEnv* env = new (storage) PosixEnv;
  return env;
}

std::string OsErrorText(long error) {
  return std::error_code(static_cast<int>(error), std::generic_category()).message();
}

bool IsNameTaken(int error) { return error == EEXIST; }

}  // namespace veskar
