// veskar ca: an administrator's commands for the local certificate
// authority behind the stand-in toolkits.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ca/local_ca.h"
#include "command.h"
#include "pki/distinguished_name.h"

namespace veskar_cli {

const char kCaUsage[] =
    "usage: veskar ca init DIR [--name DN] [--days N]\n"
    "       veskar ca add-user DIR DN\n"
    "       veskar ca list DIR\n"
    "       veskar ca serve DIR [--listen ADDRESS:PORT]\n\n"
    "Administers a local certificate authority kept in the folder DIR, the one\n"
    "the stand-in toolkits issue from. 'veskar ca COMMAND --help' says more.\n";

extern const char kServeUsage[];
int RunServe(const Args& args);

namespace {

using veskar::ca::CaStatus;
using veskar::ca::LocalCa;
using veskar::ca::RegisteredUser;

const char kInitUsage[] =
    "usage: veskar ca init DIR [--name DN] [--days N]\n\n"
    "Creates a certificate authority in DIR, which must be new or empty: a fresh\n"
    "EC P-256 key (DIR/ca.key, owner-only) and a self-signed CA certificate\n"
    "(DIR/ca.pem) for DN, valid N days. DN defaults to \"CN=Veskar Local CA\" and\n"
    "is written most specific part first, e.g. \"CN=Example CA, O=Example, C=GB\".\n"
    "N defaults to 3650.\n";

const char kAddUserUsage[] =
    "usage: veskar ca add-user DIR DN\n\n"
    "Authorises one enrollment for the user DN (e.g. \"CN=Alice Example, O=Example\")\n"
    "and prints the reference number and authorisation code to hand to the user.\n"
    "The pair works once: the certificate is issued for DN, whatever name the\n"
    "user's request carries.\n";

const char kListUsage[] =
    "usage: veskar ca list DIR\n\n"
    "Prints the CA certificate's subject and validity, then every authorised user:\n"
    "reference number, authorisation code (while unused), state, the serial number\n"
    "of the certificate issued, and the name.\n";

bool ParseDays(const std::string& text, int* days) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 1 || value > LocalCa::kMaxCaDays) {
    return false;
  }
  *days = static_cast<int>(value);
  return true;
}

int RunInit(const Args& args) {
  std::string directory;
  std::string name = LocalCa::kDefaultSubject;
  int days = LocalCa::kDefaultCaDays;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if ((arg == "--name" || arg == "--days") && i + 1 >= args.size()) {
      return UsageError("ca init", arg + " needs a value");
    }
    if (arg == "--name") {
      name = args[++i];
    } else if (arg == "--days") {
      if (!ParseDays(args[++i], &days)) {
        return UsageError("ca init", "--days takes a number of days from 1 to " +
                                         std::to_string(LocalCa::kMaxCaDays));
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("ca init", "unknown option '" + arg + "'");
    } else if (directory.empty()) {
      directory = arg;
    } else {
      return UsageError("ca init", "takes one folder");
    }
  }
  if (directory.empty()) return UsageError("ca init", "names no folder");
  const CaStatus created = LocalCa::Create(directory, name, days);
  if (!created.ok()) return Failure("ca init", created.message);
  std::unique_ptr<LocalCa> ca;
  const CaStatus opened = LocalCa::Open(directory, &ca);
  if (!opened.ok()) return Failure("ca init", opened.message);
  std::printf("created a certificate authority in %s\n", directory.c_str());
  std::printf("  subject: %s\n",
              veskar::pki::NameText(X509_get_subject_name(ca->certificate())).c_str());
  std::printf("  valid until: %s\n",
              veskar::pki::TimeText(X509_get0_notAfter(ca->certificate())).c_str());
  std::printf("  certificate: %s/ca.pem\n", directory.c_str());
  return kExitOk;
}

// Opens the CA in `directory`; when there is none, says why and returns
// kExitFailure.
int OpenCa(const char* subcommand, const std::string& directory, std::unique_ptr<LocalCa>* ca) {
  const CaStatus opened = LocalCa::Open(directory, ca);
  return opened.ok() ? kExitOk : Failure(subcommand, opened.message);
}

int RunAddUser(const Args& args) {
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

int RunList(const Args& args) {
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

}  // namespace

int RunCa(const Args& args) {
  return RunSubcommands("ca",
                        {
                            {"init", kInitUsage, RunInit},
                            {"add-user", kAddUserUsage, RunAddUser},
                            {"list", kListUsage, RunList},
                            {"serve", kServeUsage, RunServe},
                        },
                        args);
}

}  // namespace veskar_cli
