// veskar ca: an administrator's commands for the local certificate
// authority behind the stand-in toolkits. Its CMP server over HTTP, where
// it is built, is in ca_serve_command.cpp.

#include <cstdio>
#include <filesystem>

#include "ca/local_ca.h"
#include "command.h"
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
  std::printf("  certificate: %s\n",
              (std::filesystem::path(directory) / "ca.pem").string().c_str());
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

}  // namespace

const Command kCaCommand = {
    "ca",
    "administer a local certificate authority",
    nullptr,
    "Administers a local certificate authority kept in the folder DIR, the one\n"
    "the stand-in toolkits issue from. 'veskar ca COMMAND --help' says more.\n",
#ifdef VESKAR_HAVE_CA_SERVE
    {&kInitVerb, &kAddUserVerb, &kListVerb, &kCaServeVerb}};
#else
    {&kInitVerb, &kAddUserVerb, &kListVerb},
    {{"serve",
      "serving a CA is not built on Windows; a CA that 'veskar ca\n"
      "serve' serves on another (Linux) machine is used by its URL, as in\n"
      "'veskar enroll cms --ca http://HOST:PORT/pkix/ ...'"}}};
#endif

}  // namespace veskar_cli
