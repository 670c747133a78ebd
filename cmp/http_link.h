#ifndef VESKAR_CMP_HTTP_LINK_H_
#define VESKAR_CMP_HTTP_LINK_H_

#include <openssl/cmp.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "pki/openssl_util.h"

namespace veskar::cmp {

using SslCtxPtr = std::unique_ptr<SSL_CTX, pki::OpensslDeleter<SSL_CTX, SSL_CTX_free>>;

// Where a CMP server is and how it is reached.
struct HttpTarget {
  std::string host;
  std::string port;
  std::string path;
  bool tls = false;
  std::string proxy_host;  // "" for none
  std::string proxy_port;
};

// Carries CMP messages to a server over HTTP, or HTTPS verified against
// `tls` (which the link keeps a reference on). Through a proxy, plain HTTP
// goes as requests for the server's absolute URL and HTTPS through a tunnel
// (CONNECT); every message there takes a fresh connection, because proxies
// differ in which connections they keep. Without one, a connection the
// server offers to keep serves the next message.
class HttpLink {
 public:
  HttpLink(HttpTarget target, SSL_CTX* tls);
  ~HttpLink();
  HttpLink(const HttpLink&) = delete;
  HttpLink& operator=(const HttpLink&) = delete;

  // Sends `request` and reads the answer, all within `seconds`. The answer,
  // or nullptr with failure() saying why for a person.
  OSSL_CMP_MSG* Exchange(const OSSL_CMP_MSG* request, int seconds);

  const std::string& failure() const { return failure_; }

 private:
  BIO* Open(time_t deadline, int seconds);
  BIO* Connect(const std::string& host, const std::string& port, time_t deadline, int seconds);
  BIO* StartTls(BIO* connection, time_t deadline, int seconds);
  void Fail(std::string why);
  void FailExchange(int seconds);

  HttpTarget target_;
  SslCtxPtr tls_;
  BIO* kept_ = nullptr;  // a connection the server keeps open for the next message
  std::string failure_;
};

}  // namespace veskar::cmp

#endif  // VESKAR_CMP_HTTP_LINK_H_
