// veskar ca: an administrator's commands for the local certificate
// authority behind the stand-in toolkits, and its CMP server over HTTP.

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
#include "pki/distinguished_name.h"

namespace veskar_cli {

namespace {

using veskar::ca::CaStatus;
using veskar::ca::LocalCa;
using veskar::ca::RegisteredUser;

// Opens the CA in `directory`; when there is none, says why and returns
// kExitFailure.
int OpenCa(const char* subcommand, const std::string& directory, std::unique_ptr<LocalCa>* ca) {
  const CaStatus opened = LocalCa::Open(directory, ca);
  return opened.ok() ? kExitOk : Failure(subcommand, opened.message);
}

int RunInit(const Options& options) {
  if (options.operands().empty()) return UsageError("ca init", "names no folder");
  const std::string& directory = options.operands()[0];
  const std::string name = options.Value("--name", LocalCa::kDefaultSubject);
  long days = LocalCa::kDefaultCaDays;
  if (options.Has("--days") &&
      !ParseNumber(options.Value("--days"), 1, LocalCa::kMaxCaDays, &days)) {
    return UsageError("ca init", "--days takes a number of days from 1 to " +
                                     std::to_string(LocalCa::kMaxCaDays));
  }
  const CaStatus created = LocalCa::Create(directory, name, static_cast<int>(days));
  if (!created.ok()) return Failure("ca init", created.message);
  std::unique_ptr<LocalCa> ca;
  if (const int status = OpenCa("ca init", directory, &ca); status != kExitOk) return status;
  std::printf("created a certificate authority in %s\n", directory.c_str());
  std::printf("  subject: %s\n",
              veskar::pki::NameText(X509_get_subject_name(ca->certificate())).c_str());
  std::printf("  valid until: %s\n",
              veskar::pki::TimeText(X509_get0_notAfter(ca->certificate())).c_str());
  std::printf("  certificate: %s/ca.pem\n", directory.c_str());
  return kExitOk;
}

int RunAddUser(const Options& options) {
  const Args& args = options.operands();
  if (args.size() != 2) return UsageError("ca add-user", "takes a folder and a name");
  std::unique_ptr<LocalCa> ca;
  if (const int status = OpenCa("ca add-user", args[0], &ca); status != kExitOk) return status;
  RegisteredUser user;
  const CaStatus added = ca->AddUser(args[1], &user);
  if (!added.ok()) return Failure("ca add-user", added.message);
  std::printf("registered %s\n", user.subject.c_str());
  std::printf("reference number: %d\n", user.reference_number);
  std::printf("authorisation code: %s\n", user.authorisation_code.c_str());
  return kExitOk;
}

int RunList(const Options& options) {
  const Args& args = options.operands();
  if (args.size() != 1) return UsageError("ca list", "takes one folder");
  std::unique_ptr<LocalCa> ca;
  if (const int status = OpenCa("ca list", args[0], &ca); status != kExitOk) return status;
  std::vector<RegisteredUser> users;
  const CaStatus listed = ca->ListUsers(&users);
  if (!listed.ok()) return Failure("ca list", listed.message);
  std::printf("CA: %s, valid until %s\n",
              veskar::pki::NameText(X509_get_subject_name(ca->certificate())).c_str(),
              veskar::pki::TimeText(X509_get0_notAfter(ca->certificate())).c_str());
  if (users.empty()) {
    std::printf("no users registered\n");
    return kExitOk;
  }
  std::printf("%-10s %-15s %-8s %-16s %s\n", "REFERENCE", "CODE", "STATE", "SERIAL", "SUBJECT");
  for (const RegisteredUser& user : users) {
    std::printf("%-10d %-15s %-8s %-16s %s\n", user.reference_number,
                user.used ? "-" : user.authorisation_code.c_str(), user.used ? "used" : "pending",
                user.serial.empty() ? "-" : user.serial.c_str(), user.subject.c_str());
  }
  return kExitOk;
}

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

int RunServe(const Options& options) {
  if (options.operands().empty()) return UsageError("ca serve", "names no folder");
  const std::string& directory = options.operands()[0];
  const std::string listen = options.Value("--listen", "127.0.0.1:8080");
  std::string host;
  int port = 0;
  if (!SplitListen(listen, &host, &port)) {
    return UsageError("ca serve", "--listen takes ADDRESS:PORT, e.g. 127.0.0.1:8080");
  }
  std::unique_ptr<LocalCa> ca;
  if (const int status = OpenCa("ca serve", directory, &ca); status != kExitOk) return status;
  const veskar::ca::ServedCaSettings settings = veskar::ca::ServedCaSettings::FromEnvironment();
  veskar::ca::ServiceOptions service_options;
  service_options.confirm_timeout = settings.confirm_timeout;
  veskar::ca::CmpHttpServer::Options http_options;
  http_options.io_timeout = settings.io_timeout;
  http_options.log = LogLine;
  veskar::ca::CmpService service(std::move(ca), service_options);

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

const Verb kInitVerb = {
    "ca init",
    RunInit,
    {1, "takes one folder"},
    "usage: veskar ca init DIR [--name DN] [--days N]\n",
    "Creates a certificate authority in DIR, which must be new or empty: a fresh\n"
    "EC P-256 key (DIR/ca.key, owner-only) and a self-signed CA certificate\n"
    "(DIR/ca.pem) for DN, valid N days.\n",
    {{"--name", "DN",
      "the CA's name, most specific part first, e.g. \"CN=Example\n"
      "CA, O=Example, C=GB\" (default \"CN=Veskar Local CA\")"},
     {"--days", "N", "how many days the CA certificate is valid (default 3650)"}}};

const Verb kAddUserVerb = {
    "ca add-user",
    RunAddUser,
    {2, "takes a folder and a name"},
    "usage: veskar ca add-user DIR DN\n",
    "Authorises one enrollment for the user DN (e.g. \"CN=Alice Example, O=Example\")\n"
    "and prints the reference number and authorisation code to hand to the user.\n"
    "The pair works once: the certificate is issued for DN, whatever name the\n"
    "user's request carries.\n"};

const Verb kListVerb = {
    "ca list",
    RunList,
    {1, "takes one folder"},
    "usage: veskar ca list DIR\n",
    "Prints the CA certificate's subject and validity, then every authorised user:\n"
    "reference number, authorisation code (while unused), state, the serial number\n"
    "of the certificate issued, and the name.\n"};

const Verb kCaServeVerb = {
    "ca serve",
    RunServe,
    {1, "takes one folder"},
    "usage: veskar ca serve DIR [--listen ADDRESS:PORT]\n",
    "Serves the certificate authority in DIR over the Certificate Management\n"
    "Protocol on HTTP (POST, content type application/pkixcmp, any path):\n"
    "ir, cr and p10cr protected with a password-based MAC whose sender key\n"
    "identifier is the user's reference number and whose secret is the\n"
    "authorisation code, as 'veskar ca add-user' printed them, and certConf.\n"
    "A pair is spent when its certificate is confirmed; a certificate not\n"
    "confirmed in time leaves the pair usable again.\n",
    {{"--listen", "ADDRESS:PORT",
      "where to listen (default 127.0.0.1:8080); port 0 picks\na free port"}},
    "The URL to enroll at is printed on standard output, one line a finished\n"
    "transaction on standard error. SIGINT or SIGTERM stops the server once the\n"
    "requests in progress are answered.\n\n"
    "Environment:\n"
    "  VESKAR_CA_CONFIRM_TIMEOUT  seconds a certificate waits for confirmation\n"
    "                             (default 60)\n"
    "  VESKAR_CA_IO_TIMEOUT       seconds to read a request or write an answer\n"
    "                             (default 10)\n"};

}  // namespace

const Command kCaCommand = {
    "ca",
    "administer a local certificate authority",
    nullptr,
    "Administers a local certificate authority kept in the folder DIR, the one\n"
    "the stand-in toolkits issue from. 'veskar ca COMMAND --help' says more.\n",
    {&kInitVerb, &kAddUserVerb, &kListVerb, &kCaServeVerb}};

}  // namespace veskar_cli
