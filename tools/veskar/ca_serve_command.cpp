// veskar ca serve: the local certificate authority as a CMP server over
// HTTP, built where the CA's HTTP server is.

#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "ca/cmp_service.h"
#include "ca/http_server.h"
#include "ca/local_ca.h"
#include "command.h"
#include "os.h"
#include "pki/environment.h"

namespace veskar_cli {

namespace {

std::mutex log_mutex;

void LogLine(const std::string& client, const std::string& text) {
  // gmtime's result is shared by all threads: it is used under the lock.
  std::lock_guard<std::mutex> guard(log_mutex);
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
    end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);  // the rest, at the end
    std::fprintf(stderr, "%s %s %s\n", stamp, client.c_str(), line.c_str());
  }
  std::fflush(stderr);
}

bool SplitListen(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  *host = text.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  long value = 0;
  if (!ParseNumber(text.substr(colon + 1), 0, 65535, &value)) return false;
  *port = static_cast<int>(value);
  return true;
}

// Every connection is a descriptor: the soft limit is raised to the hard
// one, so that the server's own connection limits are the ones that bind.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int RunServe(const Options& options) {
  if (options.operands().empty()) return UsageError("ca serve", "names no folder");
  const std::string& directory = options.operands()[0];
  const std::string listen = options.Value("--listen", "127.0.0.1:8080");
  std::string host;
  int port = 0;
  if (!SplitListen(listen, &host, &port)) {
    return UsageError("ca serve", "--listen takes ADDRESS:PORT, e.g. 127.0.0.1:8080");
  }
  std::unique_ptr<veskar::ca::LocalCa> ca;
  const veskar::ca::CaStatus opened = veskar::ca::LocalCa::Open(directory, &ca);
  if (!opened.ok()) return Failure("ca serve", opened.message);
  const veskar::ca::ServedCaSettings settings = veskar::ca::ServedCaSettings::FromEnvironment();
  veskar::ca::ServiceOptions service_options;
  service_options.confirm_timeout = settings.confirm_timeout;
  veskar::ca::CmpHttpServer::Options http_options;
  http_options.io_timeout = settings.io_timeout;
  http_options.request_deadline = settings.io_timeout * 3;
  http_options.log = LogLine;
  // What writers killed earlier left in the folder goes before serving.
  ca->Tidy();
  veskar::ca::CmpService service(std::move(ca), service_options);
  RaiseDescriptorLimit();

  // The signals are taken by one thread, which stops the server; every
  // other thread (the server's too) starts with them blocked.
  BlockStopSignals();

  veskar::ca::CmpHttpServer server(&service, http_options);
  const int bound = server.Bind(host, port);
  if (bound <= 0) {
    return Failure("ca serve", "cannot listen on " + listen + ": " + std::strerror(errno));
  }
  const std::string shown_host = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::printf("serving %s at http://%s:%d/pkix/\n", directory.c_str(), shown_host.c_str(), bound);
  std::fflush(stdout);

  std::atomic<bool> finished{false};
  std::thread stopper([&server, &finished] {
    WaitForStopSignal();
    // Repeated, in case the signal came before the server started listening.
    while (!finished) {
      server.Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const bool listened = server.Run();
  finished = true;
  // Wakes the stopper when the server ended by itself.
  RaiseStopSignal();
  stopper.join();
  LogLine("-", "stopped");
  return listened ? kExitOk : Failure("ca serve", "the server stopped with an error");
}

}  // namespace

const Verb kCaServeVerb = {
    "ca serve",
    RunServe,
    {1, "takes one folder"},
    "usage: veskar ca serve DIR [--listen ADDRESS:PORT]\n",
    "Serves the certificate authority in DIR over the Certificate Management\n"
    "Protocol on HTTP (POST, content type application/pkixcmp, at /, /pkix/,\n"
    "/.well-known/cmp or /.well-known/cmp/p/LABEL, at most 256 KiB, with a\n"
    "Content-Length and no Content-Encoding):\n"
    "ir, cr and p10cr protected with a password-based MAC whose sender key\n"
    "identifier is the user's reference number and whose secret is the\n"
    "authorisation code, as 'veskar ca add-user' printed them, and certConf.\n"
    "A pair is spent when its certificate is confirmed; a certificate not\n"
    "confirmed in time leaves the pair usable again.\n",
    {{"--listen", "ADDRESS:PORT",
      "where to listen (default 127.0.0.1:8080; IPv6 as\n[::1]:8080); port 0 picks a free port"}},
    "The URL to enroll at is printed on standard output, one line a finished\n"
    "transaction on standard error. SIGINT or SIGTERM stops the server at once,\n"
    "closing the connections still open.\n",
    {veskar::pki::kEnvCaConfirmTimeout, veskar::pki::kEnvCaIoTimeout}};

}  // namespace veskar_cli
