#include "command_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

RunningVeskar::RunningVeskar(const std::vector<std::string>& args, const RunOptions& options) {
  char out_pattern[] = "/tmp/veskar-out-XXXXXX";
  char err_pattern[] = "/tmp/veskar-err-XXXXXX";
  const int out_fd = mkstemp(out_pattern);
  const int err_fd = mkstemp(err_pattern);
  out_ = out_pattern;
  err_ = err_pattern;
  std::vector<std::string> words = {VESKAR_CLI};
  words.insert(words.end(), args.begin(), args.end());
  pid_ = fork();
  if (pid_ == 0) {
    if (options.library_path.empty()) {
      unsetenv("LD_LIBRARY_PATH");
    } else {
      setenv("LD_LIBRARY_PATH", options.library_path.c_str(), 1);
    }
    for (const std::string& setting : options.env) {
      const size_t equals = setting.find('=');
      setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(options.stdin_fd >= 0 ? options.stdin_fd : null_fd, 0);
    dup2(options.stdout_fd >= 0 ? options.stdout_fd : out_fd, 1);
    dup2(options.stderr_fd >= 0 ? options.stderr_fd : err_fd, 2);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
}

RunningVeskar::~RunningVeskar() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(out_.c_str());
  unlink(err_.c_str());
}

std::string RunningVeskar::OutputSoFar() const { return Slurp(out_); }

std::string RunningVeskar::ErrorSoFar() const { return Slurp(err_); }

CommandResult RunningVeskar::Finish() {
  int status = 0;
  CommandResult result;
  if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
    result.exit_status = WIFEXITED(status)     ? WEXITSTATUS(status)
                         : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                               : -1;
  }
  pid_ = -1;
  result.out = Slurp(out_);
  result.err = Slurp(err_);
  return result;
}

CommandResult RunVeskar(const std::vector<std::string>& args, const std::string& library_path) {
  RunOptions options;
  options.library_path = library_path;
  return RunVeskar(args, options);
}

}  // namespace veskar_cli
