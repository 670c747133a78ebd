#include "run_guard.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "file_io.h"

namespace veskar_cli {
namespace {

sigset_t EndingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
  return signals;
}

}  // namespace

HeldSignals::HeldSignals() {
  const sigset_t held = EndingSignals();
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

HeldSignals::~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

bool PrivateTempFolder::Make(std::string* error) {
  const char* tmpdir = std::getenv("TMPDIR");
  had_tmpdir_ = tmpdir != nullptr;
  if (had_tmpdir_) previous_tmpdir_ = tmpdir;
  parent_ = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  std::string pattern = parent_ + "/veskar-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error = "cannot use the temporary folder " + parent_ +
             (had_tmpdir_ && !previous_tmpdir_.empty() ? " (TMPDIR)" : "") + ": " +
             veskar::pki::ErrnoText(errno);
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
      if (name.size() >= prefix.size() + suffix.size() &&
          name.compare(0, prefix.size(), prefix) == 0 &&
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
