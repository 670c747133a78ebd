#ifndef VESKAR_CA_HTTP_SERVER_H_
#define VESKAR_CA_HTTP_SERVER_H_

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "ca/cmp_service.h"

namespace veskar::ca {

// CMP over HTTP for a CmpService, event-driven: a connection costs a socket
// and a bounded buffer, never a thread, however slowly its client sends.
// POST with content type application/pkixcmp to /, /pkix/, /.well-known/cmp
// or /.well-known/cmp/p/<label>, with a Content-Length of at most
// kMaxRequestSize. Refused: other methods (405), other paths (404), a
// Content-Encoding or another content type (415), chunked or length-less
// bodies (411), longer ones (413), headers over the connection's memory
// (431); 400 for bytes that are not CMP. A request must be complete within
// its deadline, a connection is closed after io_timeout without traffic.
class CmpHttpServer {
 public:
  static constexpr size_t kMaxRequestSize = 256 * 1024;

  struct Options {
    std::chrono::seconds io_timeout{10};        // without traffic on a connection
    std::chrono::seconds request_deadline{30};  // from the request line to the last byte
    unsigned max_connections = 4096;
    unsigned max_connections_per_address = 2048;
    unsigned threads = 4;  // each serves many connections
    // One line a finished transaction or refused request; may be empty.
    std::function<void(const std::string& client, const std::string& line)> log;
  };

  CmpHttpServer(CmpService* service, Options options);
  ~CmpHttpServer();
  CmpHttpServer(const CmpHttpServer&) = delete;
  CmpHttpServer& operator=(const CmpHttpServer&) = delete;

  // Listens on `host` (an IPv4 or IPv6 address or a name)`:`port` (0: a
  // free port) and starts answering. Returns the port, or -1 with errno set.
  int Bind(const std::string& host, int port);
  // Waits until Stop; false when the server was never started.
  bool Run();
  // Closes every connection and stops at once. Safe from another thread,
  // and as often as wanted.
  void Stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_HTTP_SERVER_H_
