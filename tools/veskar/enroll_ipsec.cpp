// veskar enroll ipsec: an IPSec enrollment through the library, creating the
// user's profile first or logging in to one that exists.

#include <veskar/ipsec_agent.h>
#include <veskar/message_ids.h>
#include <veskar/records.h>
#include <veskar/services.h>

#include <filesystem>

#include "enroll.h"

namespace veskar_cli {
namespace {

constexpr char kCommand[] = "enroll ipsec";

// This toolkit gives no reason of its own, so the CA's register is asked,
// or the likely causes are named.
std::string Hint(int message, const EnrollmentInput& input) {
  switch (message) {
    case veskar::kMsgIpsecCreateUserFailed: {
      const std::string reason = RefusalReason(input.ca, input.reference, input.code.text);
      if (!reason.empty()) return "the CA did not create the user: " + reason;
      return "the CA did not create the user: check the reference number and the "
             "authorisation code (a pair works once)";
    }
    case veskar::kMsgIpsecLoginFailed:
      return "the profile could not be opened: a wrong password, or not a profile";
    case veskar::kMsgIpsecRetrieveFailed:
      return "the profile holds no certificate to fetch";
    default:
      return "";
  }
}

// With a pair it creates the user and the profile, else it logs in.
std::string UsageProblem(const Options& options, const EnrollmentInput& input,
                         SecretSource* password) {
  if (!options.Has("--profile")) return "needs --profile";
  if (options.Value("--profile") == "-") return "--profile names a file; '-' cannot be one";
  if (input.has_pair && !options.Has("--ca")) return "needs --ca to create a user";
  *password = {options.Value("--password-file"), options.Has("--password-stdin")};
  if (!password->file.empty() && password->from_stdin) {
    return "takes --password-file or --password-stdin, not both";
  }
  if (!CanReadSecret(*password)) {
    return "needs the password: --password-file FILE, --password-stdin, or a terminal to ask at";
  }
  return "";
}

// The profile must be new to be created, and there to log in to. A link to
// nothing counts as there: the toolkit would not follow it.
int CheckProfile(const std::string& profile, bool create) {
  namespace fs = std::filesystem;
  std::error_code failed;
  const bool exists = fs::exists(fs::symlink_status(profile, failed));
  if (create && exists) {
    const bool regular = fs::is_regular_file(profile, failed);
    return Failure(kCommand, regular ? profile +
                                           " already exists; to log in to it, leave out "
                                           "--reference and --code"
                                     : "will not make the profile " + profile +
                                           ": the name is taken by something that is not a "
                                           "profile file");
  }
  std::string error;
  if (create && !CanCreate(profile, &error)) return Failure(kCommand, error);
  if (!create && !exists) return Failure(kCommand, "there is no profile " + profile);
  return kExitOk;
}

int RunEnrollIpsec(const Options& options) {
  EnrollmentInput input;
  SecretSource password_source;
  std::string problem = ReadEnrollmentOptions(options, true, &input);
  if (problem.empty()) problem = UsageProblem(options, input, &password_source);
  if (!problem.empty()) return UsageError(kCommand, problem);
  const std::string profile = AbsolutePath(options.Value("--profile"));
  const bool create = input.has_pair;
  if (const int status = CheckBeforeEnrolling(kCommand, veskar::kServiceIpsec, options, &input);
      status != kExitOk) {
    return status;
  }
  if (const int status = CheckProfile(profile, create); status != kExitOk) return status;
  std::string error;
  SecretText password;
  if ((create && !ReadPair(kCommand, options, &input, &error)) ||
      !ReadSecret(password_source, "password", create, &password.text, &error)) {
    return Failure(kCommand, error);
  }

  // From here on an interrupt waits until everything is written, or the
  // pair is still unused.
  const HeldSignals held;
  PrivateTempFolder temp;
  if (!temp.Make(&error)) return Failure(kCommand, error);
  CQnPMCrtUsrEntIPSec record("veskar", input.ca.c_str(), input.directory.c_str(),
                             password.text.c_str(), profile.c_str(), input.code.text.c_str(),
                             input.reference.c_str());
  Cleanse(&password.text);
  CQnEntIPSecPMA agent;
  const Enrollment enrollment = Enroll(agent, record);
  if (enrollment.failed()) {
    return ReportFailure(kCommand, "IPSec", veskar::kMsgIpsecIniFailed, enrollment, temp,
                         Hint(enrollment.message, input));
  }
  return ReportSuccess(kCommand, create ? "created the user's profile and logged in" : "logged in",
                       enrollment, input, "  profile: " + profile + "\n");
}

}  // namespace

const Verb kEnrollIpsecVerb = {
    kCommand,
    RunEnrollIpsec,
    "usage: veskar enroll ipsec --profile FILE [--ca DIR] [--directory DIR]\n"
    "                           [--reference N (--code CODE | --code-file FILE)]\n"
    "                           [--password-file FILE | --password-stdin]\n"
    "                           [--cert FILE] [--ca-cert FILE] [--format pem|der]\n",
    "With --reference and --code, creates the user through the IPSec toolkit: a new\n"
    "key, a certificate from the CA (--ca is needed then), and the password-protected\n"
    "profile FILE, which must not exist yet. Without them, logs in to the existing\n"
    "profile FILE. Either way it then fetches the user's and the CA's certificates.\n",
    {{"--profile", "FILE", "the profile"},
     kCaOption,
     kDirectoryOption,
     kReferenceOption,
     kCodeOption,
     kCodeFileOption,
     {"--password-file", "FILE", "read the password from the first line of FILE"},
     {"--password-stdin", nullptr,
      "read it from the first line of standard input\n"
      "(otherwise it is asked for, without echo, on the\n"
      "terminal)"},
     kCertOption,
     kCaCertOption,
     kFormatOption},
    "The password is never taken as an argument. On success prints the\n"
    "certificate's subject, issuer, serial number and validity (on standard error\n"
    "when a certificate goes to standard output). On failure prints the message\n"
    "number, its text and the likely reason, and exits 1. Bad usage exits 2. An\n"
    "interrupt (Ctrl-C, SIGTERM) while the user is created takes effect once the\n"
    "profile and the certificates are written, or the codes are still unused.\n"};

}  // namespace veskar_cli
