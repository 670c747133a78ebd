// The command's calls into a POSIX system (Linux): files, signals, the
// terminal, the loader and the stand-in toolkits' search.

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <veskar/veskar.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "os.h"

namespace veskar_cli {
namespace {

// Set in the environment of the re-executed program, so that it never tries
// again, whatever it finds.
constexpr char kSearchedVariable[] = "VESKAR_STANDINS_SEARCHED";

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return "";
  const std::string executable(path, static_cast<size_t>(length));
  const size_t slash = executable.rfind('/');
  return slash == std::string::npos ? "" : executable.substr(0, slash);
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

bool OnSearchPath(const std::string& folder) {
  const char* path = std::getenv("LD_LIBRARY_PATH");
  if (path == nullptr) return false;
  const std::string entries = std::string(":") + path + ":";
  return entries.find(":" + folder + ":") != std::string::npos;
}

sigset_t SignalSet(const int* signals, size_t count) {
  sigset_t set;
  sigemptyset(&set);
  for (size_t i = 0; i < count; ++i) sigaddset(&set, signals[i]);
  return set;
}

// The terminal's settings and the signal actions while echo is off, for the
// handler that puts them back.
termios terminal_before_prompt{};
struct sigaction actions_before_prompt[kEndingSignalCount];

void RestoreTerminalAndEnd(int number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before_prompt);
  signal(number, SIG_DFL);
  raise(number);
}

FileType TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::kRegular;
  if (S_ISDIR(mode)) return FileType::kFolder;
  if (S_ISLNK(mode)) return FileType::kLink;
  if (S_ISCHR(mode)) return FileType::kCharacterDevice;
  if (S_ISFIFO(mode)) return FileType::kFifo;
  if (S_ISSOCK(mode)) return FileType::kSocket;
  if (S_ISBLK(mode)) return FileType::kBlockDevice;
  return FileType::kOther;
}

}  // namespace

std::string LoadedLibraryFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&GetAvaliableServices), &info) == 0 ||
      info.dli_fname == nullptr) {
    return "";
  }
  return Canonical(info.dli_fname);
}

void UseBinaryStandardStreams() {}

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
  void* module = FindLoadedToolkit(file);
  if (module == nullptr) return false;
  const std::string path = LoadedFrom(module);
  ReleaseToolkit(module);
  const std::string folder = StandInFolder(file);
  return !folder.empty() && Canonical(path) == folder + "/" + file;
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

bool ExportsEntry(void* module, const char* plain, const char* /*decorated*/) {
  return dlsym(module, plain) != nullptr;
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

bool StatusOf(const std::string& path, bool follow_links, FileStatus* status, int* error_number) {
  struct stat info {};
  if ((follow_links ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0) {
    *error_number = errno;
    return false;
  }
  struct stat out {};
  status->type = TypeOf(info.st_mode);
  status->permissions = info.st_mode & 0777;
  status->is_standard_output =
      fstat(STDOUT_FILENO, &out) == 0 && info.st_dev == out.st_dev && info.st_ino == out.st_ino;
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MayAccess(const std::string& path, bool write, int* error_number) {
  if (access(path.c_str(), write ? W_OK : R_OK) == 0) return true;
  *error_number = errno;
  return false;
}

std::string ResolvedPath(const std::string& path, int* error_number) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  *error_number = errno;
  return "";
}

std::string CurrentFolder() {
  char current[PATH_MAX];
  return getcwd(current, sizeof(current)) != nullptr ? current : "";
}

bool HardLink(const std::string& from, const std::string& to, int* error_number) {
  if (link(from.c_str(), to.c_str()) == 0) return true;
  *error_number = errno;
  return false;
}

int TryMakingAFileIn(const std::string& folder) {
  std::string probe = folder + "/probe-XXXXXX";
  const int fd = mkstemp(&probe[0]);
  if (fd < 0) return errno;
  close(fd);
  unlink(probe.c_str());
  return 0;
}

int OpenForWriting(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
}

int StandardOutputFd() { return STDOUT_FILENO; }

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

struct HeldSignals::Mask {
  sigset_t signals;
};

HeldSignals::HeldSignals() : previous_(new Mask) {
  const sigset_t held = SignalSet(kEndingSignals, kEndingSignalCount);
  sigprocmask(SIG_BLOCK, &held, &previous_->signals);
}

HeldSignals::~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_->signals, nullptr); }

EchoOff::EchoOff() : quiet_(tcgetattr(STDIN_FILENO, &terminal_before_prompt) == 0) {
  if (!quiet_) return;
  struct sigaction restore {};
  restore.sa_handler = RestoreTerminalAndEnd;
  sigemptyset(&restore.sa_mask);
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    sigaction(kEndingSignals[i], &restore, &actions_before_prompt[i]);
  }
  termios silent = terminal_before_prompt;
  silent.c_lflag &= static_cast<tcflag_t>(~ECHO);
  silent.c_lflag |= ECHONL;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
}

EchoOff::~EchoOff() {
  if (!quiet_) return;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminal_before_prompt);
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    sigaction(kEndingSignals[i], &actions_before_prompt[i], nullptr);
  }
}

namespace {
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
}  // namespace

void BlockStopSignals() {
  const sigset_t stop = SignalSet(kStopSignals, 2);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void WaitForStopSignal() {
  const sigset_t stop = SignalSet(kStopSignals, 2);
  int received = 0;
  sigwait(&stop, &received);
}

// Sent to the process, not a thread, so that the thread waiting takes it.
void RaiseStopSignal() { kill(getpid(), SIGTERM); }

bool PrivateTempFolder::Make(std::string* error) {
  const char* tmpdir = std::getenv("TMPDIR");
  had_tmpdir_ = tmpdir != nullptr;
  if (had_tmpdir_) previous_tmpdir_ = tmpdir;
  parent_ = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  std::string pattern = parent_ + "/veskar-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error = "cannot use the temporary folder " + parent_ +
             (had_tmpdir_ && !previous_tmpdir_.empty() ? " (TMPDIR)" : "") + ": " +
             std::strerror(errno);
    return false;
  }
  path_ = pattern;
  setenv("TMPDIR", path_.c_str(), 1);
  return true;
}

std::vector<std::string> PrivateTempFolder::Files(const std::string& prefix,
                                                  const std::string& suffix) const {
  std::vector<std::string> names;
  if (DIR* dir = path_.empty() ? nullptr : opendir(path_.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() >= prefix.size() + suffix.size() && StartsWith(name, prefix) &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 && name != "." &&
          name != "..") {
        names.push_back(name);
      }
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

PrivateTempFolder::~PrivateTempFolder() {
  if (path_.empty()) return;
  // The library writes only files here.
  for (const std::string& name : Files("", "")) unlink((path_ + "/" + name).c_str());
  rmdir(path_.c_str());
  if (had_tmpdir_) {
    setenv("TMPDIR", previous_tmpdir_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace veskar_cli
