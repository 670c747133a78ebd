#ifndef VESKAR_TESTS_E2E_HTTP_RELAY_H_
#define VESKAR_TESTS_E2E_HTTP_RELAY_H_

#include <openssl/ssl.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veskar::e2e {

// Relays each request it takes, one a connection, to the served CA on
// 127.0.0.1:`ca_port` and answers with the CA's answer, keeping the first
// line of every request. A client may send to it directly or use it as its
// HTTP proxy; a tunnel (CONNECT) it opens, and with ServeTls it is the TLS
// server at the tunnel's end, relaying the request inside too.
class HttpRelay {
 public:
  // kClose: the answer says the connection closes, and it does. kReset: the
  // answer lets the client keep the connection, which is then reset.
  // kInPieces: as kClose, the answer's lines sent one at a time, apart, as
  // some proxies relay them.
  enum class Ending { kClose, kReset, kInPieces };

  HttpRelay(int ca_port, Ending ending);
  ~HttpRelay();
  HttpRelay(const HttpRelay&) = delete;
  HttpRelay& operator=(const HttpRelay&) = delete;

  // Answers in a tunnel as the TLS server with this certificate and key.
  // Before the first connection.
  bool ServeTls(X509* certificate, EVP_PKEY* key);

  // http://127.0.0.1:PORT/pkix/, and the same without the path.
  std::string Url() const { return Address() + "/pkix/"; }
  std::string Address() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<std::string> FirstLines() const;

 private:
  void Serve();
  void Take(int connection);
  std::string Answer(const std::string& body) const;

  int ca_port_;
  Ending ending_;
  int listener_ = -1;
  int port_ = 0;
  SSL_CTX* tls_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::string> first_lines_;
  std::thread thread_;
};

}  // namespace veskar::e2e

#endif  // VESKAR_TESTS_E2E_HTTP_RELAY_H_
