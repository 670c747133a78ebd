#ifndef VESKAR_CA_HTTP_SERVER_H_
#define VESKAR_CA_HTTP_SERVER_H_

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "ca/cmp_service.h"

namespace veskar::ca {

// CMP over HTTP for a CmpService: POST with content type
// application/pkixcmp on any path, requests up to kMaxRequestSize bytes,
// answered by a pool of threads. 400 for bytes that are not CMP, 413 for
// too many, 415 for another content type.
class CmpHttpServer {
 public:
  static constexpr size_t kMaxRequestSize = 256 * 1024;

  struct Options {
    std::chrono::seconds io_timeout{10};  // to read a request or write an answer
    // One line a finished transaction or refused request; may be empty.
    std::function<void(const std::string& client, const std::string& line)> log;
  };

  CmpHttpServer(CmpService* service, Options options);
  ~CmpHttpServer();
  CmpHttpServer(const CmpHttpServer&) = delete;
  CmpHttpServer& operator=(const CmpHttpServer&) = delete;

  // Binds to `host`:`port` (0: a free port). Returns the port, or -1.
  int Bind(const std::string& host, int port);
  // Answers requests until Stop; false when the server failed.
  bool Run();
  // Stops taking connections; Run returns once the requests in progress
  // are answered. Safe from another thread. Called before Run, Run returns
  // at once; called while Run is only starting, it may have to be repeated.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_HTTP_SERVER_H_
