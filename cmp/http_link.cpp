#include "cmp/http_link.h"

#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/httperr.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "cmp/socket_wait.h"

namespace veskar::cmp {
namespace {

#ifdef _WIN32
constexpr int kConnectionRefused = 10061;  // WSAECONNREFUSED
#else
constexpr int kConnectionRefused = ECONNREFUSED;
#endif

constexpr char kCmpType[] = "application/pkixcmp";

struct QueuedError {
  int library;
  int reason;
  std::string text;  // the reason's text, with its detail
  std::string data;  // the detail alone
};

// The errors queued on this thread, oldest first, taken off the queue.
std::vector<QueuedError> TakeErrors() {
  std::vector<QueuedError> errors;
  unsigned long error;
  const char* data = nullptr;
  int flags = 0;
  while ((error = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0) {
    QueuedError queued{ERR_GET_LIB(error), ERR_GET_REASON(error), "", ""};
    const char* reason = ERR_reason_error_string(error);
    queued.text = reason != nullptr ? reason : "error " + std::to_string(error);
    if ((flags & ERR_TXT_STRING) != 0 && data != nullptr && data[0] != '\0') {
      queued.data = data;
      queued.text += " (" + queued.data + ")";
    }
    errors.push_back(std::move(queued));
  }
  return errors;
}

const QueuedError* Find(const std::vector<QueuedError>& errors, int library, int reason) {
  for (const QueuedError& error : errors) {
    if (error.library == library && (reason < 0 || error.reason == reason)) return &error;
  }
  return nullptr;
}

std::string Address(const std::string& host, const std::string& port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
}

std::string Within(int seconds) {
  return "did not answer within " + std::to_string(seconds) + " s";
}

// The HTTP status in OpenSSL's "code=404, reason=Not Found"; 0 for none.
int StatusCode(const std::string& data) {
  const size_t at = data.find("code=");
  return at == std::string::npos ? 0 : std::atoi(data.c_str() + at + 5);
}

}  // namespace

HttpLink::HttpLink(HttpTarget target, SSL_CTX* tls) : target_(std::move(target)) {
  if (tls != nullptr && SSL_CTX_up_ref(tls) == 1) tls_.reset(tls);
}

HttpLink::~HttpLink() { BIO_free_all(kept_); }

void HttpLink::Fail(std::string why) {
  failure_ = std::move(why);
  ERR_clear_error();
}

// A TCP connection to `host`:`port`, each of its addresses tried in turn:
// a refusal is final at once, and only a silent address waits (until
// `deadline`).
BIO* HttpLink::Connect(const std::string& host, const std::string& port, time_t deadline,
                       int seconds) {
  BIO_ADDRINFO* found = nullptr;
  if (BIO_lookup_ex(host.c_str(), port.c_str(), BIO_LOOKUP_CLIENT, AF_UNSPEC, SOCK_STREAM, 0,
                    &found) != 1) {
    Fail("the host name " + host + " is not known");
    return nullptr;
  }
  int refused = 0;
  std::string other;
  bool silent = false;
  BIO* connection = nullptr;
  for (const BIO_ADDRINFO* at = found; at != nullptr && connection == nullptr;
       at = BIO_ADDRINFO_next(at)) {
    const int socket = BIO_socket(BIO_ADDRINFO_family(at), SOCK_STREAM, 0, 0);
    if (socket == -1) continue;
    ERR_set_mark();
    bool connected = BIO_connect(socket, BIO_ADDRINFO_address(at), BIO_SOCK_NONBLOCK) == 1;
    int error = 0;
    if (!connected && ERR_peek_last_error() == 0) {
      // In progress: wait until it is writable, then ask how it went.
      ERR_pop_to_mark();
      const int ready = WaitUntilWritable(socket, deadline);
      if (ready > 0) {
        error = BIO_sock_error(socket);
        connected = error == 0;
      } else {
        silent = silent || ready == 0;
      }
    } else if (!connected) {
      std::vector<QueuedError> errors = TakeErrors();
      const QueuedError* system = Find(errors, ERR_LIB_SYS, -1);
      error = system != nullptr ? system->reason : -1;
    }
    ERR_clear_last_mark();
    if (connected) {
      connection = BIO_new_socket(socket, BIO_CLOSE);
      if (connection == nullptr) BIO_closesocket(socket);
      continue;
    }
    BIO_closesocket(socket);
    if (error == kConnectionRefused) {
      ++refused;
    } else if (error > 0 && other.empty()) {
      other = std::strerror(error);
    }
  }
  BIO_ADDRINFO_free(found);
  if (connection != nullptr) return connection;
  if (refused > 0 && !silent && other.empty()) {
    Fail("nothing listens at " + Address(host, port) + " (connection refused)");
  } else if (silent) {
    Fail(Address(host, port) + " " + Within(seconds));
  } else {
    Fail("cannot connect to " + Address(host, port) + (other.empty() ? "" : " (" + other + ")"));
  }
  return nullptr;
}

// TLS over `connection` (taken), the server's certificate verified against
// the trust store and the host name.
BIO* HttpLink::StartTls(BIO* connection, time_t deadline, int seconds) {
  BIO* tls = BIO_new_ssl(tls_.get(), 1);
  SSL* ssl = nullptr;
  const std::string& host = target_.host;
  if (tls == nullptr || BIO_get_ssl(tls, &ssl) <= 0 || ssl == nullptr ||
      SSL_set_tlsext_host_name(ssl, host.c_str()) != 1 || SSL_set1_host(ssl, host.c_str()) != 1) {
    BIO_free(tls);
    BIO_free_all(connection);
    Fail("TLS: cannot set up the connection (" + host + ")");
    return nullptr;
  }
  BIO_push(tls, connection);
  for (;;) {
    if (BIO_do_handshake(tls) == 1) return tls;
    if (!BIO_should_retry(tls)) break;
    if (BIO_wait(tls, deadline, 100) <= 0) {
      BIO_free_all(tls);
      Fail(Address(host, target_.port) + " " + Within(seconds) + " (in the TLS handshake)");
      return nullptr;
    }
  }
  const long verified = SSL_get_verify_result(ssl);
  std::string why;
  if (verified != X509_V_OK) {
    why = X509_verify_cert_error_string(verified);
  } else {
    const std::vector<QueuedError> errors = TakeErrors();
    why = errors.empty() ? "the handshake failed" : errors.front().text;
  }
  BIO_free_all(tls);
  Fail("TLS: " + why + " (" + host + ")");
  return nullptr;
}

// A connection to the server, or to the proxy, with the tunnel and TLS
// set up as the target needs.
BIO* HttpLink::Open(time_t deadline, int seconds) {
  const bool proxied = !target_.proxy_host.empty();
  BIO* connection = proxied ? Connect(target_.proxy_host, target_.proxy_port, deadline, seconds)
                            : Connect(target_.host, target_.port, deadline, seconds);
  if (connection == nullptr || !target_.tls) return connection;
  if (proxied && OSSL_HTTP_proxy_connect(
                     connection, target_.host.c_str(), target_.port.c_str(), nullptr, nullptr,
                     static_cast<int>(deadline - time(nullptr)), nullptr, nullptr) != 1) {
    const std::vector<QueuedError> errors = TakeErrors();
    BIO_free_all(connection);
    Fail("the proxy opened no tunnel to " + Address(target_.host, target_.port) +
         (errors.empty() ? "" : ": " + errors.front().text));
    return nullptr;
  }
  return StartTls(connection, deadline, seconds);
}

void HttpLink::FailExchange(int seconds) {
  const std::vector<QueuedError> errors = TakeErrors();
  if (const QueuedError* status = Find(errors, ERR_LIB_HTTP, HTTP_R_RECEIVED_ERROR)) {
    const int code = StatusCode(status->data);
    if (code == 404) {
      Fail("no CMP service at this path (HTTP 404)");
    } else if (code >= 300 && code < 400) {
      Fail("the server answered HTTP " + std::to_string(code) + " (a redirect, not followed)");
    } else {
      Fail("the server answered HTTP " + std::to_string(code) + ", not CMP");
    }
  } else if (const QueuedError* type = Find(errors, ERR_LIB_HTTP, HTTP_R_UNEXPECTED_CONTENT_TYPE)) {
    Fail("the server's answer is not CMP: " + type->text);
  } else if (Find(errors, ERR_LIB_BIO, BIO_R_TRANSFER_TIMEOUT) != nullptr ||
             Find(errors, ERR_LIB_HTTP, HTTP_R_RETRY_TIMEOUT) != nullptr) {
    Fail(Address(target_.host, target_.port) + " " + Within(seconds));
  } else {
    Fail("the connection to " + Address(target_.host, target_.port) + " broke off" +
         (errors.empty() ? "" : " (" + errors.front().text + ")"));
  }
}

OSSL_CMP_MSG* HttpLink::Exchange(const OSSL_CMP_MSG* request, int seconds) {
  failure_.clear();
  const time_t deadline = time(nullptr) + seconds;
  const bool proxied = !target_.proxy_host.empty();
  BIO* connection = kept_;
  kept_ = nullptr;
  if (connection == nullptr) connection = Open(deadline, seconds);
  if (connection == nullptr) return nullptr;
  // OpenSSL 3.0's HTTP reader forgets the headers it has seen whenever it
  // returns to wait for more of the answer, so an answer whose headers come
  // in pieces (a proxy relays them line by line) "lacked" its content type.
  // On a blocking socket it reads the answer in one go; the socket's own
  // time-outs keep the deadline.
  int fd = -1;
  if (BIO_get_fd(connection, &fd) <= 0 || !BlockUntil(fd, deadline)) {
    BIO_free_all(connection);
    Fail("cannot set up the connection to " + Address(target_.host, target_.port));
    return nullptr;
  }
  const bool absolute = proxied && !target_.tls;
  OSSL_HTTP_REQ_CTX* http = OSSL_HTTP_REQ_CTX_new(connection, connection, 0);
  const std::string host =
      target_.host.find(':') != std::string::npos ? "[" + target_.host + "]" : target_.host;
  BIO* answer = nullptr;
  if (http != nullptr &&
      OSSL_HTTP_REQ_CTX_set_request_line(http, 1, absolute ? host.c_str() : nullptr,
                                         absolute ? target_.port.c_str() : nullptr,
                                         target_.path.c_str()) == 1 &&
      OSSL_HTTP_REQ_CTX_add1_header(http, "Host", host.c_str()) == 1 &&
      OSSL_HTTP_REQ_CTX_add1_header(http, "Pragma", "no-cache") == 1 &&
      OSSL_HTTP_REQ_CTX_set_expected(http, kCmpType, 1, static_cast<int>(deadline - time(nullptr)),
                                     proxied ? 0 : 1) == 1 &&
      OSSL_HTTP_REQ_CTX_set1_req(http, kCmpType, ASN1_ITEM_rptr(OSSL_CMP_MSG),
                                 reinterpret_cast<const ASN1_VALUE*>(request)) == 1) {
    answer = OSSL_HTTP_REQ_CTX_exchange(http);
  }
  OSSL_CMP_MSG* message = nullptr;
  if (answer == nullptr) {
    FailExchange(seconds);
  } else {
    message = reinterpret_cast<OSSL_CMP_MSG*>(
        ASN1_item_d2i_bio(ASN1_ITEM_rptr(OSSL_CMP_MSG), answer, nullptr));
    if (message == nullptr) Fail("the server's answer is not a CMP message");
  }
  const bool keep = message != nullptr && !proxied && OSSL_HTTP_is_alive(http) == 1;
  OSSL_HTTP_REQ_CTX_free(http);
  if (keep) {
    kept_ = connection;
  } else {
    BIO_free_all(connection);
  }
  return message;
}

}  // namespace veskar::cmp
