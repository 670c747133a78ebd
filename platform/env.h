#ifndef VESKAR_PLATFORM_ENV_H_
#define VESKAR_PLATFORM_ENV_H_

#include <cstddef>
#include <string>

namespace veskar {

// The library's only door to the operating system: dynamic loading and the
// few file operations it needs. One implementation per platform; tests wrap
// the real one (EnvWrapper) to make a single step fail.
//
// File operations return 0 on success or the OS error number (errno on
// POSIX, GetLastError on Windows) on failure.
class Env {
 public:
  virtual ~Env();

  // The environment of this process, for this platform.
  static Env* Default();

  // Loads the toolkit called `module_name` ("cmsapi32") through the
  // platform loader's own search. Returns null when it cannot be loaded.
  virtual void* LoadModule(const char* module_name) = 0;
  // Releases a module from LoadModule. REQUIRES: module is not null.
  virtual void FreeModule(void* module) = 0;
  // The address of the entry point exported as `decorated_name`
  // ("_CMSLogin@24"), or null when the module has none.
  virtual void* FindEntry(void* module, const char* decorated_name) = 0;

  // The temporary directory, or "" when the platform gives none.
  virtual std::string TempDirectory() = 0;
  // Creates a new, empty, owner-only file in `directory` whose name is up to
  // three characters of `prefix`, a hexadecimal number and ".tmp"; never
  // opens an existing file. The number has four digits unless a bounded
  // number of tries found those names taken; then it is longer and random,
  // so that nobody can take every name. Stores the full path into *path.
  virtual int CreateUniqueFile(const std::string& directory, const std::string& prefix,
                               std::string* path) = 0;
  // Renames `from` to `to`; fails (EEXIST, ERROR_ALREADY_EXISTS) rather than
  // replace an existing `to`.
  virtual int RenameNoReplace(const std::string& from, const std::string& to) = 0;
  // Opens the existing file `path` for writing (never creating it), writes
  // `size` bytes at its start and closes it. The temporary directory may be
  // shared ground where others can replace a name, so the write happens
  // only through a file that is still what CreateUniqueFile made (and a
  // rename kept): reached without following a symbolic link, a regular,
  // empty, owner-only file of this user with no other name. Anything else
  // fails with EPERM and is left untouched.
  virtual int WriteExistingFile(const std::string& path, const void* data, size_t size) = 0;
  virtual int RemoveFile(const std::string& path) = 0;
};

// Forwards every call to another Env; tests override the calls they fail.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  void* LoadModule(const char* module_name) override { return target_->LoadModule(module_name); }
  void FreeModule(void* module) override { target_->FreeModule(module); }
  void* FindEntry(void* module, const char* decorated_name) override {
    return target_->FindEntry(module, decorated_name);
  }
  std::string TempDirectory() override { return target_->TempDirectory(); }
  int CreateUniqueFile(const std::string& directory, const std::string& prefix,
                       std::string* path) override {
    return target_->CreateUniqueFile(directory, prefix, path);
  }
  int RenameNoReplace(const std::string& from, const std::string& to) override {
    return target_->RenameNoReplace(from, to);
  }
  int WriteExistingFile(const std::string& path, const void* data, size_t size) override {
    return target_->WriteExistingFile(path, data, size);
  }
  int RemoveFile(const std::string& path) override { return target_->RemoveFile(path); }

 private:
  Env* target_;
};

// The platform's description of an OS error number from a file operation.
std::string OsErrorText(long error);
// Whether `error`, from RenameNoReplace, says that the target already exists.
bool IsNameTaken(int error);

// The Env the library uses: Env::Default() unless a test installed another.
Env* CurrentEnv();
// Installs `env` (null restores the default) and returns the previous one.
// For tests; not for use while requests run.
Env* SetEnvForTesting(Env* env);

}  // namespace veskar

#endif  // VESKAR_PLATFORM_ENV_H_
