#include "ca/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "ca/refusal_log.h"
#include "pki/text_fields.h"

namespace veskar::ca {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kContentType[] = "application/pkixcmp";
// Request line and headers of one connection must fit here; more is
// answered 431 by the HTTP library.
constexpr size_t kConnectionMemory = 32 * 1024;

bool IsCmpContentType(const std::string& value) {
  return pki::AsciiLower(pki::TrimmedBlanks(value.substr(0, value.find(';')))) == kContentType;
}

// The paths CMP clients post to: the root, /pkix/, and the well-known ones
// with or without a CA label.
bool IsCmpPath(const std::string& path) {
  if (path == "/" || path == "/pkix" || path == "/pkix/" || path == "/.well-known/cmp" ||
      path == "/.well-known/cmp/") {
    return true;
  }
  const std::string labelled = "/.well-known/cmp/p/";
  if (path.compare(0, labelled.size(), labelled) != 0) return false;
  std::string label = path.substr(labelled.size());
  if (!label.empty() && label.back() == '/') label.pop_back();
  if (label.empty()) return false;
  for (const char c : label) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') {
      return false;
    }
  }
  return true;
}

// A Content-Length: decimal digits only, at most `limit`; -1 otherwise,
// -2 when it is a number above the limit.
long long ContentLength(const char* value, size_t limit) {
  if (value == nullptr || *value == '\0') return -1;
  unsigned long long length = 0;
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    length = length * 10 + static_cast<unsigned>(*p - '0');
    if (length > limit) return -2;
  }
  return static_cast<long long>(length);
}

std::string ClientOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "-";
  char host[NI_MAXHOST] = "";
  const socklen_t size =
      info->client_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (getnameinfo(info->client_addr, size, host, sizeof(host), nullptr, 0, NI_NUMERICHOST) != 0) {
    return "-";
  }
  return host;
}

const char* Header(MHD_Connection* connection, const char* name) {
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

// Sends the acknowledgement of what the client has sent so far now rather
// than with the kernel's delay. A client that writes its headers and its body
// separately on a kept connection (OpenSSL's CMP client does) holds the body
// back until the headers are acknowledged (Nagle's rule), and a delayed
// acknowledgement costs it some 40 ms per message.
void AcknowledgeNow(MHD_Connection* connection) {
#ifdef TCP_QUICKACK
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info == nullptr) return;
  const int on = 1;
  setsockopt(info->connect_fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof(on));
#else
  (void)connection;
#endif
}

// One request's state, from its headers to its answer.
struct Request {
  Clock::time_point start = Clock::now();
  size_t expected = 0;
  pki::Bytes body;
  bool answered = false;  // a refusal was queued; the body is dropped
};

}  // namespace

struct CmpHttpServer::State {
  CmpService* service = nullptr;
  Options options;
  std::mutex mutex;
  std::condition_variable stopped;
  MHD_Daemon* daemon = nullptr;
  bool started = false;
  mutable RefusalLog refusals;

  void Log(const std::string& client, const std::string& line) const {
    if (options.log) options.log(client, line);
  }

  // Refusals repeat under a flood: folded per source and kind.
  void LogRefusal(const std::string& client, const std::string& kind,
                  const std::string& line) const {
    if (!options.log) return;
    const std::string told = refusals.Note(client + '\n' + kind, line, Clock::now());
    if (!told.empty()) options.log(client, told);
  }

  static MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& body,
                          const char* type, const char* allow = nullptr) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
  }

  MHD_Result Refuse(MHD_Connection* connection, Request* request, unsigned status,
                    const std::string& why, const char* allow = nullptr) const {
    request->answered = true;
    LogRefusal(ClientOf(connection), "HTTP " + std::to_string(status), "refused: " + why);
    return Queue(connection, status, why + "\n", "text/plain", allow);
  }

  // The checks made on the headers, before any of the body is read.
  MHD_Result Start(MHD_Connection* connection, const char* url, const char* method,
                   Request* request) const {
    if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0) {
      return Refuse(connection, request, MHD_HTTP_METHOD_NOT_ALLOWED,
                    std::string("method ") + method + " (only POST)", "POST");
    }
    if (!IsCmpPath(url)) {
      return Refuse(connection, request, MHD_HTTP_NOT_FOUND, "no CMP service at this path");
    }
    const char* encoding = Header(connection, MHD_HTTP_HEADER_CONTENT_ENCODING);
    if (encoding != nullptr && pki::AsciiLower(pki::TrimmedBlanks(encoding)) != "identity") {
      return Refuse(connection, request, MHD_HTTP_UNSUPPORTED_MEDIA_TYPE,
                    "requests must not be encoded (Content-Encoding)");
    }
    const char* type = Header(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
    if (type == nullptr || !IsCmpContentType(type)) {
      return Refuse(connection, request, MHD_HTTP_UNSUPPORTED_MEDIA_TYPE,
                    std::string("requests must be of type ") + kContentType);
    }
    const long long length =
        Header(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr
            ? -1
            : ContentLength(Header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH), kMaxRequestSize);
    if (length == -2) {
      return Refuse(connection, request, MHD_HTTP_CONTENT_TOO_LARGE,
                    "request too large (" + std::to_string(kMaxRequestSize) + " bytes at most)");
    }
    if (length < 0) {
      return Refuse(connection, request, MHD_HTTP_LENGTH_REQUIRED,
                    "requests need a Content-Length, and no Transfer-Encoding");
    }
    request->expected = static_cast<size_t>(length);
    request->body.reserve(request->expected);
    if (request->expected != 0) AcknowledgeNow(connection);
    return MHD_YES;
  }

  MHD_Result Answer(MHD_Connection* connection, Request* request) const {
    CmpService::Outcome outcome;
    const pki::Bytes answer = service->Handle(request->body.data(), request->body.size(), &outcome);
    const std::string client = ClientOf(connection);
    if (!outcome.log.empty()) Log(client, outcome.request + ": " + outcome.log);
    if (!outcome.refused.empty()) {
      LogRefusal(client, outcome.refusal_kind, outcome.request + ": " + outcome.refused);
    }
    request->answered = true;
    if (answer.empty()) {
      const bool malformed = outcome.request == "malformed";
      return Queue(connection, malformed ? MHD_HTTP_BAD_REQUEST : MHD_HTTP_INTERNAL_SERVER_ERROR,
                   malformed ? "not a CMP message\n" : "the request could not be answered\n",
                   "text/plain");
    }
    return Queue(connection, MHD_HTTP_OK, std::string(answer.begin(), answer.end()), kContentType);
  }

  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                              const char* method, const char* /*version*/, const char* upload_data,
                              size_t* upload_data_size, void** context) {
    auto* state = static_cast<State*>(cls);
    auto* request = static_cast<Request*>(*context);
    if (request == nullptr) {
      request = new Request;
      *context = request;
      return state->Start(connection, url, method, request);
    }
    if (request->answered) {
      *upload_data_size = 0;  // what follows a refusal is read and dropped
      return MHD_YES;
    }
    if (Clock::now() - request->start > state->options.request_deadline) {
      state->LogRefusal(ClientOf(connection), "deadline",
                        "refused: request not complete within its deadline");
      return MHD_NO;  // closes the connection
    }
    if (*upload_data_size != 0) {
      if (request->body.size() + *upload_data_size > request->expected) return MHD_NO;
      request->body.insert(request->body.end(), upload_data, upload_data + *upload_data_size);
      *upload_data_size = 0;
      return MHD_YES;
    }
    return state->Answer(connection, request);
  }

  static void OnCompleted(void* /*cls*/, MHD_Connection* /*connection*/, void** context,
                          MHD_RequestTerminationCode /*code*/) {
    delete static_cast<Request*>(*context);
    *context = nullptr;
  }
};

CmpHttpServer::CmpHttpServer(CmpService* service, Options options)
    : state_(std::make_unique<State>()) {
  state_->service = service;
  state_->options = std::move(options);
}

CmpHttpServer::~CmpHttpServer() { Stop(); }

int CmpHttpServer::Bind(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    errno = EADDRNOTAVAIL;
    return -1;
  }
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  const bool v6 = found->ai_family == AF_INET6;
  freeaddrinfo(found);

  const Options& options = state_->options;
  // poll, not epoll: with epoll this library version misses the end of a
  // stream that arrives with a request, and keeps the connection until its
  // idle timeout. poll is level-triggered and costs little at these limits.
  const unsigned flags = MHD_USE_POLL_INTERNAL_THREAD | (v6 ? MHD_USE_IPv6 : 0);
  std::lock_guard<std::mutex> guard(state_->mutex);
  if (state_->daemon != nullptr || state_->started) {
    errno = EALREADY;
    return -1;
  }
  state_->daemon = MHD_start_daemon(
      flags, static_cast<uint16_t>(port), nullptr, nullptr, &State::OnRequest, state_.get(),
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address), MHD_OPTION_THREAD_POOL_SIZE,
      options.threads, MHD_OPTION_CONNECTION_LIMIT, options.max_connections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, options.max_connections_per_address,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(options.io_timeout.count()), MHD_OPTION_NOTIFY_COMPLETED,
      &State::OnCompleted, nullptr, MHD_OPTION_END);
  if (state_->daemon == nullptr) {
    if (errno == 0) errno = EADDRINUSE;
    return -1;
  }
  state_->started = true;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  return info != nullptr ? info->port : port;
}

bool CmpHttpServer::Run() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (!state_->started) return false;
  state_->stopped.wait(lock, [this] { return state_->daemon == nullptr; });
  return true;
}

void CmpHttpServer::Stop() {
  MHD_Daemon* daemon = nullptr;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    daemon = state_->daemon;
    state_->daemon = nullptr;
    // Stopped before it started: Run returns at once.
    state_->started = true;
  }
  if (daemon != nullptr) MHD_stop_daemon(daemon);
  state_->stopped.notify_all();
}

}  // namespace veskar::ca
