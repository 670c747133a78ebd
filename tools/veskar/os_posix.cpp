// The command's calls into a POSIX system (Linux): files, signals, the
// terminal, the loader and the stand-in toolkits' search.

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <veskar/veskar.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "os.h"

namespace veskar_cli {
namespace {

namespace fs = std::filesystem;

// Set in the environment of the re-executed program, so that it never tries
// again, whatever it finds.
constexpr char kSearchedVariable[] = "VESKAR_STANDINS_SEARCHED";

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kStopSignals[] = {SIGINT, SIGTERM};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Canonical(const std::string& path) {
  std::error_code failed;
  const fs::path resolved = fs::canonical(path, failed);
  return failed ? path : resolved.string();
}

// A folder where stand-ins may be: one subfolder per stand-in, or, for an
// install beside the library, the stand-ins themselves.
struct Candidate {
  std::string folder;
  bool flat;
};

// The build tree counts only for a command that runs from it: an installed
// command must not pick up whatever appears later at the path where it was
// once built.
std::vector<Candidate> CandidateFolders() {
  constexpr bool kInstalledFlat = VESKAR_STANDIN_INSTALL_FLAT != 0;
  std::vector<Candidate> folders;
  std::error_code failed;
  const std::string executable_folder =
      fs::read_symlink("/proc/self/exe", failed).parent_path().string();
  if (!failed && !executable_folder.empty()) {
    folders.push_back({executable_folder + "/" + VESKAR_STANDIN_FROM_EXECUTABLE, kInstalledFlat});
    if (StartsWith(executable_folder + "/", VESKAR_BUILD_TREE "/")) {
      folders.push_back({VESKAR_STANDIN_BUILD_DIR, false});
    }
  }
  folders.push_back({VESKAR_STANDIN_INSTALL_DIR, kInstalledFlat});
  return folders;
}

// "libcmsapi32.so" lives in the subfolder "cmsapi32".
std::string SubfolderOf(const std::string& file) {
  const std::string name = StartsWith(file, "lib") ? file.substr(3) : file;
  return name.substr(0, name.find('.'));
}

bool OnSearchPath(const std::string& folder) {
  const char* path = std::getenv("LD_LIBRARY_PATH");
  return path != nullptr &&
         (std::string(":") + path + ":").find(":" + folder + ":") != std::string::npos;
}

// Whether the loader looks in `folder` without being told: the folder the
// stand-ins were installed in beside the library, when that is a system
// folder. A stand-in there that did not load will not load from the path.
bool SearchedByDefault(const std::string& folder) {
  return VESKAR_STANDIN_INSTALL_SEARCHED != 0 && folder == Canonical(VESKAR_STANDIN_INSTALL_DIR);
}

template <size_t kCount>
sigset_t SignalSet(const int (&signals)[kCount]) {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : signals) sigaddset(&set, number);
  return set;
}

// The terminal's settings and the signal actions while echo is off, for the
// handler that puts them back.
termios terminal_before_prompt{};
struct sigaction actions_before_prompt[std::size(kEndingSignals)];

void RestoreTerminalAndEnd(int number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before_prompt);
  signal(number, SIG_DFL);
  raise(number);
}

// Sets `name` to `value`, or unsets it for null.
void RestoreVariable(const char* name, const std::string* value) {
  if (value != nullptr) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
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
  for (const Candidate& candidate : CandidateFolders()) {
    const std::string folder =
        candidate.flat ? candidate.folder : candidate.folder + "/" + SubfolderOf(file);
    if (access((folder + "/" + file).c_str(), R_OK) == 0) return Canonical(folder);
  }
  return "";
}

std::string StandInAdvice(const std::string& folder) {
  if (SearchedByDefault(folder)) return "";
  return "run with LD_LIBRARY_PATH=" + folder + ", or without\n--no-standins and " +
         kNoStandInsVariable;
}

bool InspectLoadedToolkit(const Toolkit& toolkit, std::string* path, std::string* missing) {
  // RTLD_NOLOAD only finds the copy the library opened; it never loads one.
  void* module = dlopen(toolkit.file, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
  if (module == nullptr) return false;
  link_map* map = nullptr;
  const bool named = dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
                     map->l_name != nullptr && map->l_name[0] != '\0';
  *path = named ? Canonical(map->l_name) : "(unknown file)";
  missing->clear();
  for (const EntryName& entry : toolkit.entry_points) {
    if (dlsym(module, entry.plain) == nullptr) {
      *missing += std::string(missing->empty() ? "" : ", ") + entry.plain;
    }
  }
  dlclose(module);
  return true;
}

void* LoadedToolkitEntry(const Toolkit& toolkit, const EntryName& entry) {
  void* module = dlopen(toolkit.file, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
  if (module == nullptr) return nullptr;
  // The library keeps its own reference, so the address stays good.
  void* address = dlsym(module, entry.plain);
  dlclose(module);
  return address;
}

bool StandInLoaded(const Toolkit& toolkit) {
  std::string path;
  std::string missing;
  if (!InspectLoadedToolkit(toolkit, &path, &missing)) return false;
  const std::string folder = StandInFolder(toolkit.file);
  return !folder.empty() && Canonical(path) == folder + "/" + toolkit.file;
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
  const char* previous = std::getenv("LD_LIBRARY_PATH");
  const std::string previous_path = previous != nullptr ? previous : "";
  // An empty entry would mean the current folder, so none is made.
  std::string path = previous_path;
  for (const Toolkit& toolkit : kToolkits) {
    if (mask & toolkit.bit) continue;
    const std::string folder = StandInFolder(toolkit.file);
    // A stand-in already on the path that did not load would not load again.
    if (!folder.empty() && !OnSearchPath(folder) && !SearchedByDefault(folder)) {
      path += (path.empty() ? "" : ":") + folder;
    }
  }
  if (path == previous_path) return;
  if (setenv("LD_LIBRARY_PATH", path.c_str(), 1) != 0 || setenv(kSearchedVariable, "1", 1) != 0) {
    return;
  }
  execv("/proc/self/exe", argv);
  // Still here: carry on without the stand-ins, in the environment we had.
  RestoreVariable("LD_LIBRARY_PATH", previous != nullptr ? &previous_path : nullptr);
  unsetenv(kSearchedVariable);
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

bool IsStandardOutput(const std::string& path) {
  struct stat info {};
  struct stat out {};
  return stat(path.c_str(), &info) == 0 && fstat(STDOUT_FILENO, &out) == 0 &&
         info.st_dev == out.st_dev && info.st_ino == out.st_ino;
}

bool MayAccess(const std::string& path, bool write, int* error_number) {
  if (access(path.c_str(), write ? W_OK : R_OK) == 0) return true;
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
  const sigset_t held = SignalSet(kEndingSignals);
  sigprocmask(SIG_BLOCK, &held, &previous_->signals);
}

HeldSignals::~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_->signals, nullptr); }

EchoOff::EchoOff() : quiet_(tcgetattr(STDIN_FILENO, &terminal_before_prompt) == 0) {
  if (!quiet_) return;
  struct sigaction restore {};
  restore.sa_handler = RestoreTerminalAndEnd;
  sigemptyset(&restore.sa_mask);
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
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
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &actions_before_prompt[i], nullptr);
  }
}

void BlockStopSignals() {
  const sigset_t stop = SignalSet(kStopSignals);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void WaitForStopSignal() {
  const sigset_t stop = SignalSet(kStopSignals);
  int received = 0;
  sigwait(&stop, &received);
}

// Sent to the process, not a thread, so that the thread waiting takes it.
void RaiseStopSignal() { kill(getpid(), SIGTERM); }

bool PrivateTempFolder::Make(std::string* error) {
  const char* tmpdir = std::getenv("TMPDIR");
  parent_ = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  std::string pattern = parent_ + "/veskar-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error = "cannot use the temporary folder " + parent_ +
             (tmpdir != nullptr && tmpdir[0] != '\0' ? " (TMPDIR)" : "") + ": " +
             std::strerror(errno);
    return false;
  }
  path_ = pattern;
  Install("TMPDIR");
  return true;
}

void PrivateTempFolder::Install(const char* name) {
  const char* value = std::getenv(name);
  saved_.push_back({name, value != nullptr, value != nullptr ? value : ""});
  setenv(name, path_.c_str(), 1);
}

PrivateTempFolder::~PrivateTempFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  for (const SavedVariable& saved : saved_) {
    RestoreVariable(saved.name, saved.had ? &saved.value : nullptr);
  }
}

}  // namespace veskar_cli
