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

// Runs the veskar command with `args` (each passed as one word), with
// LD_LIBRARY_PATH set to `library_path` or, when that is empty, unset.
CommandResult RunVeskar(const std::vector<std::string>& args, const std::string& library_path = "");

}  // namespace veskar_cli

#endif  // VESKAR_TESTS_TOOLS_COMMAND_RUNNER_H_
