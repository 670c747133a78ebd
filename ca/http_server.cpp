#include "ca/http_server.h"

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <thread>

namespace veskar::ca {
namespace {

constexpr char kContentType[] = "application/pkixcmp";

bool IsCmpContentType(const std::string& value) {
  const std::string type = value.substr(0, value.find(';'));
  const size_t first = type.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  std::string trimmed = type.substr(first, type.find_last_not_of(' ') - first + 1);
  for (char& c : trimmed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return trimmed == kContentType;
}

}  // namespace

struct CmpHttpServer::State {
  CmpService* service = nullptr;
  Options options;
  httplib::Server server;
  std::atomic<bool> stopping{false};

  void Log(const std::string& client, const std::string& line) const {
    if (options.log) options.log(client, line);
  }

  void Answer(const httplib::Request& request, httplib::Response& response) const {
    // The HTTP library keeps an HTTP/1.0 connection open only for the exact
    // spelling "Keep-Alive", yet answers as HTTP/1.1 without saying that it
    // closes: a client asking with "keep-alive" (as OpenSSL's does) would
    // send its next message into a closed connection. So it is said.
    if (request.version == "HTTP/1.0" && request.get_header_value("Connection") != "Keep-Alive") {
      response.set_header("Connection", "close");
    }
    const std::string type = request.get_header_value("Content-Type");
    if (!IsCmpContentType(type)) {
      response.status = 415;
      response.set_content(std::string("requests must be of type ") + kContentType + "\n",
                           "text/plain");
      Log(request.remote_addr, "refused: content type '" + type + "'");
      return;
    }
    CmpService::Outcome outcome;
    const pki::Bytes answer = service->Handle(
        reinterpret_cast<const unsigned char*>(request.body.data()), request.body.size(), &outcome);
    if (!outcome.log.empty()) Log(request.remote_addr, outcome.request + ": " + outcome.log);
    if (answer.empty()) {
      const bool malformed = outcome.request == "malformed";
      response.status = malformed ? 400 : 500;
      response.set_content(
          malformed ? "not a CMP message\n" : "the request could not be answered\n", "text/plain");
      return;
    }
    response.status = 200;
    response.set_content(std::string(answer.begin(), answer.end()), kContentType);
  }
};

CmpHttpServer::CmpHttpServer(CmpService* service, Options options)
    : state_(std::make_unique<State>()) {
  state_->service = service;
  state_->options = std::move(options);
  httplib::Server& server = state_->server;
  server.set_payload_max_length(kMaxRequestSize);
  server.set_read_timeout(state_->options.io_timeout);
  server.set_write_timeout(state_->options.io_timeout);
  server.set_keep_alive_timeout(5);
  // An answer goes out in more than one write; without this the second
  // waits for the client's delayed acknowledgement (tens of milliseconds).
  server.set_tcp_nodelay(true);
  State* state = state_.get();
  server.Post(".*", [state](const httplib::Request& request, httplib::Response& response) {
    state->Answer(request, response);
  });
  server.set_error_handler([state](const httplib::Request& request, httplib::Response& response) {
    if (response.status == 413) state->Log(request.remote_addr, "refused: request too large");
  });
}

CmpHttpServer::~CmpHttpServer() { Stop(); }

int CmpHttpServer::Bind(const std::string& host, int port) {
  if (port == 0) return state_->server.bind_to_any_port(host);
  return state_->server.bind_to_port(host, port) ? port : -1;
}

bool CmpHttpServer::Run() {
  if (state_->stopping) return true;
  return state_->server.listen_after_bind();
}

void CmpHttpServer::Stop() {
  state_->stopping = true;
  state_->server.stop();
}

}  // namespace veskar::ca
