#ifndef VESKAR_TOOLS_VESKAR_RUN_GUARD_H_
#define VESKAR_TOOLS_VESKAR_RUN_GUARD_H_

#include <signal.h>

#include <string>
#include <vector>

namespace veskar_cli {

// Holds back the signals that end a run from the keyboard or from another
// process (SIGINT, SIGTERM, SIGHUP, SIGQUIT) for its life. One that came
// meanwhile takes effect when the object goes, so a step that must not be
// cut in half (an enrollment, which spends the user's codes) runs to its
// end, leaves its files in order, and only then ends the run.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_;
};

// A new owner-only folder inside the temporary folder (TMPDIR, else /tmp),
// installed as TMPDIR while the object lives, so that the library's
// temporary files of this run are apart from other runs' and go with the
// folder, whatever is left in it.
class PrivateTempFolder {
 public:
  PrivateTempFolder() = default;
  ~PrivateTempFolder();
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;

  // Makes the folder. False with *error naming the temporary folder and
  // why it cannot be used.
  bool Make(std::string* error);

  const std::string& path() const { return path_; }
  // The temporary folder it was made in.
  const std::string& parent() const { return parent_; }
  // Names of the files in it that start with `prefix` and end with
  // `suffix`, sorted.
  std::vector<std::string> Files(const std::string& prefix, const std::string& suffix) const;

 private:
  std::string path_;
  std::string parent_;
  std::string previous_tmpdir_;
  bool had_tmpdir_ = false;
};

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_RUN_GUARD_H_
