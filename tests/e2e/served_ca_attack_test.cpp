// The served CA as an attacker on the network meets it (loopback only, each
// attack bounded in size and time): bodies it must not unpack and header
// floods are refused on their headers with little memory, slow and idle
// connections hold neither an enrollment nor the server's stop.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "server_process.h"
#include "test_pki.h"

namespace veskar::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using toolkit_test::SignedRequest;

// A connected loopback socket (IPv4 or IPv6), or -1.
int Connect(int port, bool v6 = false) {
  const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  int connected = -1;
  if (v6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  }
  if (connected != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& data) {
  for (size_t sent = 0; sent < data.size();) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// What the server answered on `fd` until it closed or went quiet: the
// status codes of the responses, in order.
std::vector<int> Statuses(int fd) {
  std::string answer;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = recv(fd, buffer, sizeof(buffer), 0)) > 0) {
    answer.append(buffer, static_cast<size_t>(got));
  }
  std::vector<int> statuses;
  for (size_t at = answer.find("HTTP/1."); at != std::string::npos;
       at = answer.find("HTTP/1.", at + 1)) {
    statuses.push_back(std::atoi(answer.c_str() + at + 9));
  }
  return statuses;
}

// Sends `head`, then up to `flood` bytes of `piece` again and again (while
// the server reads them), and returns the first status it answers.
int Attack(int port, const std::string& head, const std::string& piece = "", size_t flood = 0) {
  const int fd = Connect(port);
  if (fd < 0) return -1;
  bool open = SendAll(fd, head);
  for (size_t sent = 0; open && sent < flood; sent += piece.size()) open = SendAll(fd, piece);
  shutdown(fd, SHUT_WR);
  const std::vector<int> statuses = Statuses(fd);
  close(fd);
  return statuses.empty() ? 0 : statuses[0];
}

std::string Head(const std::string& extra, const std::string& method = "POST") {
  return method + " /pkix/ HTTP/1.1\r\nHost: ca\r\nContent-Type: application/pkixcmp\r\n" + extra +
         "\r\n";
}

class ServedCaAttackTest : public EndToEndTest {
 protected:
  void Serve(const std::string& listen = "127.0.0.1:0", const std::vector<std::string>& env = {}) {
    ASSERT_TRUE(server_.Start({VESKAR_CLI, "ca", "serve", ca_.directory, "--listen", listen}, env,
                              ca_.scratch.File("serve.log"), true));
  }
  ServerProcess server_;
};

TEST_F(ServedCaAttackTest, BodiesNotToUnpackAndHeaderFloodsAreRefusedOnTheirHeaders) {
  Serve();
  const int port = server_.port();
  const std::string block(64 * 1024, 'x');
  const struct {
    const char* name;
    std::string head;
    std::string piece;
    size_t flood;
    int status;
  } cases[] = {
      {"gzip", Head("Content-Encoding: gzip\r\nContent-Length: 200000\r\n"), block, 200000, 415},
      {"brotli", Head("Content-Encoding: br\r\nContent-Length: 758\r\n"), std::string(758, 'b'),
       758, 415},
      {"chunked", Head("Transfer-Encoding: chunked\r\n"), "10000\r\n" + block + "\r\n", 64u << 20,
       411},
      {"no length", Head(""), block, 8u << 20, 411},
      {"too long", Head("Content-Length: 1000000000\r\n"), block, 64u << 20, 413},
      {"length not a number", Head("Content-Length: 12abc\r\n"), "", 0, 400},
      {"header flood", "POST /pkix/ HTTP/1.1\r\nHost: ca\r\n",
       "X-Filler: " + std::string(1000, 'h') + "\r\n", 64u << 20, 431},
      {"GET", Head("", "GET"), "", 0, 405},
      {"other path", "POST /elsewhere HTTP/1.1\r\nHost: ca\r\nContent-Length: 0\r\n\r\n", "", 0,
       404},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Attack(port, c.head, c.piece, c.flood), c.status);
  }
  // Pipelined requests each get their answer.
  const int fd = Connect(port);
  ASSERT_GE(fd, 0);
  const std::string two =
      Head("Content-Length: 3\r\n") + "abc" + Head("Content-Length: 3\r\n") + "abc";
  ASSERT_TRUE(SendAll(fd, two));
  shutdown(fd, SHUT_WR);
  EXPECT_EQ(Statuses(fd), (std::vector<int>{400, 400}));
  close(fd);

  const long peak = PeakResidentKib(server_.pid());
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, 64 * 1024) << "KiB at the most";
}

// 256 clients dripping a header byte at a time and 1,000 idle connections:
// a real enrollment still gets through at once, and SIGTERM still stops
// the server at once.
TEST_F(ServedCaAttackTest, SlowAndIdleClientsHoldNeitherEnrollmentsNorTheStop) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 1400) GTEST_SKIP() << "too few descriptors for the attack";
  Serve("127.0.0.1:0", {"VESKAR_CA_IO_TIMEOUT=60"});
  const int port = server_.port();
  std::vector<int> idle;
  std::vector<int> slow;
  for (int i = 0; i < 1000; ++i) idle.push_back(Connect(port));
  for (int i = 0; i < 256; ++i) {
    slow.push_back(Connect(port));
    SendAll(slow.back(), "POST /pkix/ HTTP/1.1\r\nHost: ca\r\nX-Slow: ");
  }
  for (const int fd : idle) ASSERT_GE(fd, 0);
  for (const int fd : slow) ASSERT_GE(fd, 0);
  std::atomic<bool> dripping{true};
  std::thread drip([&] {
    for (int round = 0; dripping && round < 200; ++round) {
      for (const int fd : slow) send(fd, "s", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });

  pki::EvpPkeyPtr key = pki::NewEcKey();
  const Clock::time_point start = Clock::now();
  const Outcome enrolled =
      EnrollCms({server_.url(), "", Code(), Reference(), 0, SignedRequest(key.get(), "ignored")});
  const auto took = Clock::now() - start;
  EXPECT_EQ(enrolled.message, 0) << enrolled.extended_error;
  EXPECT_LT(took, std::chrono::seconds(2));

  const Clock::time_point stopping = Clock::now();
  EXPECT_EQ(server_.Stop(SIGTERM), 0);
  EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(2));
  dripping = false;
  drip.join();
  for (const int fd : idle) close(fd);
  for (const int fd : slow) close(fd);
}

// A client that ends its stream with its request (as a fuzzer or a
// scripted client does) gets the answer and the close at once, not after
// the idle timeout.
TEST_F(ServedCaAttackTest, AClientThatEndsItsStreamIsAnsweredAndClosedAtOnce) {
  Serve("127.0.0.1:0", {"VESKAR_CA_IO_TIMEOUT=60"});
  const std::string request = Head("Content-Length: 3\r\n") + "abc";
  const int fd = Connect(server_.port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, request));
  shutdown(fd, SHUT_WR);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Statuses(fd), std::vector<int>{400});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  close(fd);
}

TEST_F(ServedCaAttackTest, ServesTheWellKnownPathsOverIpv6) {
  const int probe = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 loopback{};
  loopback.sin6_family = AF_INET6;
  loopback.sin6_addr = in6addr_loopback;
  const bool have_v6 =
      probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof(loopback)) == 0;
  if (probe >= 0) close(probe);
  if (!have_v6) GTEST_SKIP() << "no IPv6 loopback";
  Serve("[::1]:0");
  EXPECT_NE(server_.url().find("http://[::1]:"), std::string::npos) << server_.url();
  for (const char* path : {"/.well-known/cmp", "/.well-known/cmp/p/ca-1", "/", "/pkix/"}) {
    SCOPED_TRACE(path);
    const int fd = Connect(server_.port(), /*v6=*/true);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, std::string("POST ") + path +
                                " HTTP/1.1\r\nHost: ca\r\nContent-Type: application/pkixcmp\r\n"
                                "Content-Length: 3\r\nConnection: close\r\n\r\nabc"));
    EXPECT_EQ(Statuses(fd), std::vector<int>{400}) << "the CMP handler's answer to non-CMP bytes";
    close(fd);
  }
}

}  // namespace
}  // namespace veskar::e2e
