#include "http_relay.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>

namespace veskar::e2e {
namespace {

using Receive = std::function<long(char* buffer, size_t size)>;

// Reads one request: its head, and a body as long as its Content-Length.
bool ReadRequest(const Receive& receive, std::string* head, std::string* body) {
  std::string data;
  char buffer[4096];
  long got = 0;
  while ((got = receive(buffer, sizeof(buffer))) > 0) {
    data.append(buffer, static_cast<size_t>(got));
    const size_t end = data.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    const size_t field = data.find("Content-Length:");
    const size_t length = field < end ? std::stoul(data.substr(field + 15)) : 0;
    if (data.size() < end + 4 + length) continue;
    *head = data.substr(0, end);
    *body = data.substr(end + 4, length);
    return true;
  }
  return false;
}

}  // namespace

HttpRelay::HttpRelay(int ca_port, Ending ending) : ca_port_(ca_port), ending_(ending) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      listen(listener_, 4) == 0 &&
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port_ = ntohs(address.sin_port);
  }
  thread_ = std::thread([this] { Serve(); });
}

HttpRelay::~HttpRelay() {
  shutdown(listener_, SHUT_RDWR);
  close(listener_);
  thread_.join();
  SSL_CTX_free(tls_);
}

bool HttpRelay::ServeTls(X509* certificate, EVP_PKEY* key) {
  tls_ = SSL_CTX_new(TLS_server_method());
  return tls_ != nullptr && SSL_CTX_use_certificate(tls_, certificate) == 1 &&
         SSL_CTX_use_PrivateKey(tls_, key) == 1;
}

std::vector<std::string> HttpRelay::FirstLines() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return first_lines_;
}

void HttpRelay::Serve() {
  for (;;) {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) return;
    timeval limit{10, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    Take(connection);
    if (ending_ == Ending::kReset) {
      // Reset rather than closed: the client's next write fails at once.
      linger reset{1, 0};
      setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    }
    close(connection);
  }
}

void HttpRelay::Take(int connection) {
  std::string head;
  std::string body;
  const Receive plain = [connection](char* buffer, size_t size) {
    return static_cast<long>(recv(connection, buffer, size, 0));
  };
  if (!ReadRequest(plain, &head, &body)) return;
  const auto keep = [this](const std::string& request) {
    std::lock_guard<std::mutex> guard(mutex_);
    first_lines_.push_back(request.substr(0, request.find("\r\n")));
  };
  keep(head);
  if (head.rfind("CONNECT ", 0) != 0) {
    const std::string reply = Answer(body);
    const size_t headers = reply.find("\r\n\r\n") + 4;
    size_t at = 0;
    while (ending_ == Ending::kInPieces && at < headers) {
      const size_t line = reply.find("\r\n", at) + 2;
      send(connection, reply.data() + at, line - at, MSG_NOSIGNAL);
      at = line;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    send(connection, reply.data() + at, reply.size() - at, MSG_NOSIGNAL);
    return;
  }
  const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
  send(connection, established.data(), established.size(), MSG_NOSIGNAL);
  if (tls_ == nullptr) return;
  SSL* ssl = SSL_new(tls_);
  const Receive secure = [ssl](char* buffer, size_t size) {
    return static_cast<long>(SSL_read(ssl, buffer, static_cast<int>(size)));
  };
  if (ssl != nullptr && SSL_set_fd(ssl, connection) == 1 && SSL_accept(ssl) == 1 &&
      ReadRequest(secure, &head, &body)) {
    keep(head);
    const std::string reply = Answer(body);
    SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
    SSL_shutdown(ssl);
  }
  SSL_free(ssl);
}

std::string HttpRelay::Answer(const std::string& body) const {
  httplib::Client ca("127.0.0.1", ca_port_);
  const httplib::Result answer = ca.Post("/pkix/", body, "application/pkixcmp");
  if (!answer) return "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const std::string connection = ending_ == Ending::kReset
                                     ? "Connection: keep-alive\r\nKeep-Alive: timeout=5, max=5\r\n"
                                     : "Connection: close\r\n";
  return "HTTP/1.1 200 OK\r\nContent-Type: application/pkixcmp\r\n" + connection +
         "Content-Length: " + std::to_string(answer->body.size()) + "\r\n\r\n" + answer->body;
}

}  // namespace veskar::e2e
