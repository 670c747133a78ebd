// Finding the stand-in toolkits that were built or installed with the
// command.

#include "toolkit_search.h"

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

struct Toolkit {
  int bit;
  const char* file;
};
constexpr Toolkit kToolkits[] = {{2, "libkmpapi32.so"}, {4, "libcmsapi32.so"}};

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return "";
  const std::string executable(path, static_cast<size_t>(length));
  const size_t slash = executable.rfind('/');
  return slash == std::string::npos ? "" : executable.substr(0, slash);
}

std::vector<std::string> CandidateFolders() {
  std::vector<std::string> folders;
  const std::string executable_folder = ExecutableFolder();
  if (!executable_folder.empty()) {
    folders.push_back(executable_folder + "/" + VESKAR_STANDIN_FROM_EXECUTABLE);
  }
  folders.push_back(VESKAR_STANDIN_BUILD_DIR);
  folders.push_back(VESKAR_STANDIN_INSTALL_DIR);
  return folders;
}

bool OnSearchPath(const std::string& folder) {
  const char* path = std::getenv("LD_LIBRARY_PATH");
  if (path == nullptr) return false;
  const std::string entries = std::string(":") + path + ":";
  return entries.find(":" + folder + ":") != std::string::npos;
}

}  // namespace

std::string StandInFolder(const char* file) {
  for (const std::string& folder : CandidateFolders()) {
    if (access((folder + "/" + file).c_str(), R_OK) == 0) {
      char resolved[PATH_MAX];
      return realpath(folder.c_str(), resolved) != nullptr ? resolved : folder;
    }
  }
  return "";
}

void UseStandInToolkits(char** argv, bool disabled) {
  if (std::getenv(kSearchedVariable) != nullptr) {
    unsetenv(kSearchedVariable);
    return;
  }
  if (disabled || std::getenv(kNoStandInsVariable) != nullptr) return;
  const int mask = GetAvaliableServices();
  std::string folder;
  for (const Toolkit& toolkit : kToolkits) {
    if (mask & toolkit.bit) continue;
    folder = StandInFolder(toolkit.file);
    if (!folder.empty()) break;
  }
  // A stand-in already on the path that did not load would not load again.
  if (folder.empty() || OnSearchPath(folder)) return;

  const char* previous = std::getenv("LD_LIBRARY_PATH");
  const bool had_path = previous != nullptr;
  const std::string previous_path = had_path ? previous : "";
  // An empty entry would mean the current folder, so none is made.
  const std::string path = previous_path.empty() ? folder : previous_path + ":" + folder;
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

}  // namespace veskar_cli
