// Finding the stand-in toolkits that were built or installed with the
// command.

#include "toolkit_search.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#include <veskar/services.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace veskar_cli {

namespace {

// Set in the environment of the re-executed program, so that it never tries
// again, whatever it finds.
constexpr char kSearchedVariable[] = "VESKAR_STANDINS_SEARCHED";

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return "";
  const std::string executable(path, static_cast<size_t>(length));
  const size_t slash = executable.rfind('/');
  return slash == std::string::npos ? "" : executable.substr(0, slash);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Folders that hold one subfolder per stand-in. The build tree counts only
// for a command that runs from it: an installed command must not pick up
// whatever appears later at the path where it was once built.
std::vector<std::string> CandidateFolders() {
  std::vector<std::string> folders;
  const std::string executable_folder = ExecutableFolder();
  if (!executable_folder.empty()) {
    folders.push_back(executable_folder + "/" + VESKAR_STANDIN_FROM_EXECUTABLE);
  }
  if (!executable_folder.empty() && StartsWith(executable_folder + "/", VESKAR_BUILD_TREE "/")) {
    folders.push_back(VESKAR_STANDIN_BUILD_DIR);
  }
  folders.push_back(VESKAR_STANDIN_INSTALL_DIR);
  return folders;
}

// "libcmsapi32.so" lives in the subfolder "cmsapi32".
std::string SubfolderOf(const std::string& file) {
  std::string name = file;
  if (StartsWith(name, "lib")) name.erase(0, 3);
  const size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

bool OnSearchPath(const std::string& folder) {
  const char* path = std::getenv("LD_LIBRARY_PATH");
  if (path == nullptr) return false;
  const std::string entries = std::string(":") + path + ":";
  return entries.find(":" + folder + ":") != std::string::npos;
}

}  // namespace

std::string StandInFolder(const char* file) {
  for (const std::string& root : CandidateFolders()) {
    const std::string folder = root + "/" + SubfolderOf(file);
    if (access((folder + "/" + file).c_str(), R_OK) == 0) return Canonical(folder);
  }
  return "";
}

std::string LoadedFrom(void* module) {
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr ||
      map->l_name[0] == '\0') {
    return "(unknown file)";
  }
  return Canonical(map->l_name);
}

bool StandInLoaded(const char* file) {
  // RTLD_NOLOAD only finds the copy the library opened; it never loads one.
  void* module = dlopen(file, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
  if (module == nullptr) return false;
  const std::string path = LoadedFrom(module);
  dlclose(module);
  return IsStandIn(path, file);
}

bool IsStandIn(const std::string& loaded_path, const char* file) {
  const std::string folder = StandInFolder(file);
  return !folder.empty() && Canonical(loaded_path) == folder + "/" + file;
}

void UseStandInToolkits(char** argv, bool disabled) {
  if (std::getenv(kSearchedVariable) != nullptr) {
    unsetenv(kSearchedVariable);
    return;
  }
  // Unset, empty and "0" all leave the search on, as people write flags.
  const char* no_standins = std::getenv(kNoStandInsVariable);
  if (disabled ||
      (no_standins != nullptr && no_standins[0] != '\0' && std::string(no_standins) != "0")) {
    return;
  }
  // Only the folders of the missing toolkits go on the path, so a toolkit
  // the loader found anywhere (its cache and default folders included) keeps
  // precedence over a stand-in.
  const int mask = GetAvaliableServices();
  std::vector<std::string> folders;
  for (const Toolkit& toolkit : kToolkits) {
    if (mask & toolkit.bit) continue;
    const std::string folder = StandInFolder(toolkit.file);
    // A stand-in already on the path that did not load would not load again.
    if (!folder.empty() && !OnSearchPath(folder)) folders.push_back(folder);
  }
  if (folders.empty()) return;

  const char* previous = std::getenv("LD_LIBRARY_PATH");
  const bool had_path = previous != nullptr;
  const std::string previous_path = had_path ? previous : "";
  // An empty entry would mean the current folder, so none is made.
  std::string path = previous_path;
  for (const std::string& folder : folders) path += (path.empty() ? "" : ":") + folder;
  if (setenv("LD_LIBRARY_PATH", path.c_str(), 1) != 0 || setenv(kSearchedVariable, "1", 1) != 0) {
    return;
  }
  execv("/proc/self/exe", argv);
  // Still here: carry on without the stand-ins, in the environment we had.
  if (had_path) {
    setenv("LD_LIBRARY_PATH", previous_path.c_str(), 1);
  } else {
    unsetenv("LD_LIBRARY_PATH");
  }
  unsetenv(kSearchedVariable);
}

void* FindLoadedToolkit(const char* file) {
  // RTLD_NOLOAD only finds the copy the library opened; it never loads one.
  return dlopen(file, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
}

void ReleaseToolkit(void* module) { dlclose(module); }

bool ExportsEntry(void* module, const EntryName& entry) {
  return dlsym(module, entry.plain) != nullptr;
}

std::string WhyNotLoaded(const char* file) {
  void* module = dlopen(file, RTLD_LAZY | RTLD_LOCAL);
  if (module != nullptr) {
    dlclose(module);
    return "it loads now, so it was added after the library started";
  }
  const char* error = dlerror();
  return error != nullptr ? error : "not found";
}

}  // namespace veskar_cli
