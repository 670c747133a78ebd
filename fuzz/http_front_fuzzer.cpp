// The served CA's HTTP front on arbitrary bytes sent by a client that then
// stops sending: whatever arrives, the server answers with a status line it
// knows, or closes, within a bounded time, and never crashes, overruns or
// leaks. The bytes go over a real loopback connection to the server the
// CA's command runs, with a CA of one user behind it.

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "ca/http_server.h"
#include "fuzz/fuzz_ca.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Front {
  std::unique_ptr<veskar::ca::CmpService> service;
  std::unique_ptr<veskar::ca::CmpHttpServer> server;
  int port = -1;
};

Front* Serve() {
  auto* front = new Front;
  front->service = veskar::fuzz::MakeFuzzService();
  veskar::ca::CmpHttpServer::Options options;
  options.threads = 2;
  // A request cut short ends with the client's end of stream, not with
  // these; they only bound a server that failed to notice it.
  options.io_timeout = std::chrono::seconds(3);
  options.request_deadline = std::chrono::seconds(3);
  front->server = std::make_unique<veskar::ca::CmpHttpServer>(front->service.get(), options);
  front->port = front->server->Bind("127.0.0.1", 0);
  if (front->port <= 0) abort();
  return front;
}

// The statuses this front sends, or the HTTP library sends for it.
bool KnownStatus(int status) {
  switch (status) {
    case 200:
    case 400:
    case 404:
    case 405:
    case 411:
    case 413:
    case 414:
    case 415:
    case 417:
    case 431:
    case 500:
    case 501:
    case 505:
      return true;
    default:
      return false;
  }
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) abort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) abort();
  return fd;
}

// Everything the server sends until it closes; aborts when it neither
// closes nor stops sending within the bound.
std::string ReadUntilClosed(int fd) {
  std::string answer;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
  char buffer[16384];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) {
      std::fprintf(stderr, "the server kept a finished client's connection open\n");
      abort();
    }
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left)) < 0) continue;
    const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
    if (got == 0) return answer;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return answer;  // reset by the server: a refusal
    }
    answer.append(buffer, static_cast<size_t>(got));
    if (answer.size() > (1u << 20)) abort();  // more than any request could earn
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Front* front = Serve();
  const int fd = Connect(front->port);
  size_t sent = 0;
  while (sent < size) {
    const ssize_t put = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (put <= 0) break;  // the server closed on what it had seen
    sent += static_cast<size_t>(put);
  }
  shutdown(fd, SHUT_WR);
  const std::string answer = ReadUntilClosed(fd);
  // Closed with a reset, so that a run leaves no connections waiting.
  const linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
  close(fd);

  if (answer.empty()) return 0;
  int status = 0;
  if (answer.size() < 12 || answer.compare(0, 7, "HTTP/1.") != 0 ||
      std::sscanf(answer.c_str() + 9, "%3d", &status) != 1 || !KnownStatus(status)) {
    std::fprintf(stderr, "unexpected answer: %.60s\n", answer.c_str());
    abort();
  }
  // Only a POST can be answered with a CMP message.
  if (status == 200 && (size < 5 || std::memcmp(data, "POST ", 5) != 0)) abort();
  return 0;
}
