#include "server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace veskar::e2e {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Exec(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
  std::vector<char*> words;
  for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);
  execvp(words[0], words.data());
  _exit(127);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return ok;
}

int WaitFor(pid_t pid, std::chrono::seconds limit) {
  const Clock::time_point end = Clock::now() + limit;
  int status = 0;
  while (Clock::now() < end) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

}  // namespace

ServerProcess::~ServerProcess() {
  if (pid_ > 0) Stop(SIGKILL);
}

bool ServerProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& log_path, bool url_from_output, int port) {
  int out[2];
  if (pipe(out) != 0) return false;
  pid_ = fork();
  if (pid_ == 0) {
    const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(out[1], STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    close(out[0]);
    Exec(argv, env);
  }
  close(out[1]);
  const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
  bool up = false;
  std::string line;
  while (!up && Clock::now() < end && pid_ > 0) {
    if (url_from_output) {
      pollfd ready{out[0], POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char c = 0;
      if (read(out[0], &c, 1) != 1) break;
      if (c != '\n') {
        line += c;
        continue;
      }
      const size_t start = line.find("http://");
      if (start != std::string::npos) url_ = line.substr(start);
      up = !url_.empty();
    } else {
      up = Accepts(port);
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      url_ = "http://127.0.0.1:" + std::to_string(port) + "/pkix/";
    }
  }
  close(out[0]);
  return up;
}

int ServerProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  const int status = WaitFor(pid_, std::chrono::seconds(10));
  if (status == -1) {
    kill(pid_, SIGKILL);
    WaitFor(pid_, std::chrono::seconds(10));
  }
  pid_ = -1;
  return status;
}

int ServerProcess::port() const {
  const size_t colon = url_.rfind(':');
  return colon == std::string::npos ? -1 : std::atoi(url_.c_str() + colon + 1);
}

long PeakResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    Exec(argv, {});
  }
  close(out[1]);
  output->clear();
  char buffer[4096];
  ssize_t got;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < end) {
    pollfd ready{out[0], POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    if ((got = read(out[0], buffer, sizeof(buffer))) <= 0) break;
    output->append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  const int status = WaitFor(pid, std::chrono::seconds(5));
  if (status == -1) {
    kill(pid, SIGKILL);
    WaitFor(pid, std::chrono::seconds(5));
  }
  return status;
}

}  // namespace veskar::e2e
