#ifndef VESKAR_TESTS_E2E_SERVER_PROCESS_H_
#define VESKAR_TESTS_E2E_SERVER_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace veskar::e2e {

// A server run as a child process on a loopback port, killed (SIGKILL)
// and reaped when the object goes if it still runs.
class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Runs `argv` with `env` added to the environment and standard error in
  // `log_path`. With `url_from_output`, waits (at most 10 s) for the first
  // line on standard output and takes the URL in it; otherwise waits until
  // 127.0.0.1:`port` accepts connections. False when it does not come up.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& log_path, bool url_from_output, int port = 0);

  // Sends `signal` and waits (at most 10 s) for the exit; returns the exit
  // status, 128 + the signal's number when a signal ended it, -1 on time-out.
  int Stop(int signal);

  const std::string& url() const { return url_; }
  pid_t pid() const { return pid_; }
  // The port of url().
  int port() const;

 private:
  pid_t pid_ = -1;
  std::string url_;
};

// The most memory the process has had resident (VmHWM), in KiB; -1 when
// it cannot be read.
long PeakResidentKib(pid_t pid);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeLoopbackPort();

// Runs `argv` to completion (at most 60 s), standard output and error to
// `output`; returns its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv, std::string* output);

}  // namespace veskar::e2e

#endif  // VESKAR_TESTS_E2E_SERVER_PROCESS_H_
