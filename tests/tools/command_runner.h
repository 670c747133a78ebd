#ifndef VESKAR_TESTS_TOOLS_COMMAND_RUNNER_H_
#define VESKAR_TESTS_TOOLS_COMMAND_RUNNER_H_

#include <string>
#include <vector>

namespace veskar_cli {

struct CommandResult {
  int exit_status = -1;
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string library_path;         // LD_LIBRARY_PATH; unset when empty
  std::vector<std::string> env;     // more "NAME=VALUE" settings
  std::string input;                // standard input; /dev/null when empty
  bool input_through_pipe = false;  // `input` comes through a pipe, not a file
};

// Runs the veskar command with `args` (each passed as one word).
CommandResult RunVeskar(const std::vector<std::string>& args, const RunOptions& options);

// The same with LD_LIBRARY_PATH set to `library_path` or, when that is empty,
// unset, and nothing on standard input.
CommandResult RunVeskar(const std::vector<std::string>& args, const std::string& library_path = "");

}  // namespace veskar_cli

#endif  // VESKAR_TESTS_TOOLS_COMMAND_RUNNER_H_
