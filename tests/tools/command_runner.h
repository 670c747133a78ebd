#ifndef VESKAR_TESTS_TOOLS_COMMAND_RUNNER_H_
#define VESKAR_TESTS_TOOLS_COMMAND_RUNNER_H_

#include <memory>
#include <string>
#include <vector>

namespace veskar_cli {

struct CommandResult {
  int exit_status = -1;
  std::string out;
  std::string err;
};

struct RunOptions {
  // Standard input, output and error of a started command go to these
  // descriptors (a terminal, say) when not -1.
  int stdin_fd = -1;
  int stdout_fd = -1;
  int stderr_fd = -1;
  std::string library_path;         // LD_LIBRARY_PATH; unset when empty
  std::vector<std::string> env;     // more "NAME=VALUE" settings
  std::string input;                // standard input; /dev/null when empty
  bool input_through_pipe = false;  // `input` comes through a pipe, not a file
};

// Runs the veskar command with `args` (each passed as one word).
CommandResult RunVeskar(const std::vector<std::string>& args, const RunOptions& options);

// A veskar command started in the background, to be sent signals.
class RunningVeskar {
 public:
  RunningVeskar(const std::vector<std::string>& args, const RunOptions& options);
  ~RunningVeskar();  // ends the command if it still runs
  RunningVeskar(const RunningVeskar&) = delete;
  RunningVeskar& operator=(const RunningVeskar&) = delete;

  int pid() const { return pid_; }
  // What it wrote to standard output and error so far (when not redirected).
  std::string OutputSoFar() const;
  std::string ErrorSoFar() const;
  // Waits for the end. exit_status is 128 + N when signal N ended it.
  CommandResult Finish();

 private:
  int pid_ = -1;
  std::string out_;
  std::string err_;
};

// The same with LD_LIBRARY_PATH set to `library_path` or, when that is empty,
// unset, and nothing on standard input.
CommandResult RunVeskar(const std::vector<std::string>& args, const std::string& library_path = "");

}  // namespace veskar_cli

#endif  // VESKAR_TESTS_TOOLS_COMMAND_RUNNER_H_
