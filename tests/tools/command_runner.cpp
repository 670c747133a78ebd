#include "command_runner.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_pki.h"

namespace veskar_cli {
namespace {

std::string Quoted(const std::string& word) {
  std::string out = "'";
  for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

CommandResult RunVeskar(const std::vector<std::string>& args, const RunOptions& options) {
  veskar::toolkit_test::ScratchDir scratch;
  std::string command = options.library_path.empty()
                            ? "env -u LD_LIBRARY_PATH "
                            : "env LD_LIBRARY_PATH=" + Quoted(options.library_path) + " ";
  for (const std::string& setting : options.env) command += Quoted(setting) + " ";
  command += Quoted(VESKAR_CLI);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  std::string input = "/dev/null";
  if (!options.input.empty()) {
    input = scratch.File("in");
    veskar::toolkit_test::WriteFile(input, options.input);
  }
  command = options.input_through_pipe ? "cat " + input + " | " + command : command + " <" + input;
  command += " >" + scratch.File("out") + " 2>" + scratch.File("err");
  const int status = std::system(command.c_str());
  CommandResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = Slurp(scratch.File("out"));
  result.err = Slurp(scratch.File("err"));
  return result;
}

CommandResult RunVeskar(const std::vector<std::string>& args, const std::string& library_path) {
  RunOptions options;
  options.library_path = library_path;
  return RunVeskar(args, options);
}

}  // namespace veskar_cli
