// veskar enroll ipsec: an IPSec enrollment through the library, creating the
// user's profile first or logging in to one that exists.

#include <sys/stat.h>
#include <unistd.h>
#include <veskar/ipsec_agent.h>
#include <veskar/records.h>

#include "enroll.h"
#include "file_io.h"
#include "run_guard.h"
#include "secret_input.h"

namespace veskar_cli {

const char kEnrollIpsecUsage[] =
    "usage: veskar enroll ipsec --profile FILE [--ca DIR] [--directory DIR]\n"
    "                           [--reference N (--code CODE | --code-file FILE)]\n"
    "                           [--password-file FILE | --password-stdin]\n"
    "                           [--cert FILE] [--ca-cert FILE] [--format pem|der]\n\n"
    "With --reference and --code, creates the user through the IPSec toolkit: a new\n"
    "key, a certificate from the CA, and the password-protected profile FILE, which\n"
    "must not exist yet. Without them, logs in to the existing profile FILE. Either\n"
    "way it then fetches the user's and the CA's certificates.\n\n"
    "  --profile FILE       the profile\n"
    "  --ca DIR|URL         the CA location (for the stand-in toolkit, a CMP\n"
    "                       server's URL or the CA's folder); needed to create a user\n"
    "  --directory DIR      the directory location\n"
    "  --reference N        the reference number the CA's administrator handed out\n"
    "  --code CODE          the authorisation code that goes with it (seen by other\n"
    "                       users in the process list: prefer --code-file)\n"
    "  --code-file FILE     the authorisation code, from the first line of FILE\n"
    "  --password-file FILE read the password from the first line of FILE\n"
    "  --password-stdin     read it from the first line of standard input\n"
    "                       (otherwise it is asked for, without echo, on the terminal)\n"
    "  --cert FILE          where the user's certificate goes\n"
    "  --ca-cert FILE       where the CA's certificate goes\n"
    "  --format pem|der     the form of both (default pem)\n\n"
    "The password is never taken as an argument. On success prints the\n"
    "certificate's subject, issuer, serial number and validity (on standard error\n"
    "when a certificate goes to standard output). On failure prints the message\n"
    "number, its text and the likely reason, and exits 1. Bad usage exits 2. An\n"
    "interrupt (Ctrl-C, SIGTERM) while the user is created takes effect once the\n"
    "profile and the certificates are written, or the codes are still unused.\n";

namespace {

constexpr char kCommand[] = "enroll ipsec";
constexpr int kIpsecService = 2;

// This toolkit gives no reason of its own, so the CA's register is asked,
// or the likely causes are named.
std::string Hint(int message, const std::string& ca, const std::string& reference,
                 const std::string& code, const PrivateTempFolder& temp) {
  switch (message) {
    case 51000:
      return "the IPSec toolkit lacks entry points ('veskar services' says which)";
    case 53002: {
      const std::string reason = RefusalReason(ca, reference, code);
      if (!reason.empty()) return "the CA did not create the user: " + reason;
      return "the CA did not create the user: check the reference number and the "
             "authorisation code (a pair works once)";
    }
    case 53005:
      return TempFilesHint(temp);
    case 53006:
      return "the profile could not be opened: a wrong password, or not a profile";
    case 53007:
      return "the profile holds no certificate to fetch";
    default:
      return "";
  }
}

}  // namespace

int RunEnrollIpsec(const Args& args) {
  Options options;
  std::string error;
  if (!options.Parse(args,
                     {{"--profile", true},
                      kCaOption,
                      kDirectoryOption,
                      kReferenceOption,
                      kCodeOption,
                      kCodeFileOption,
                      {"--password-file", true},
                      {"--password-stdin", false},
                      kCertOption,
                      kCaCertOption,
                      kFormatOption},
                     &error)) {
    return UsageError(kCommand, error);
  }
  if (!options.Has("--profile")) return UsageError(kCommand, "needs --profile");
  const bool create = options.Has("--reference");
  const std::string code_option = CodeOptionGiven(options);
  if (code_option == "both") return UsageError(kCommand, "takes --code or --code-file, not both");
  if (create != !code_option.empty()) {
    return UsageError(kCommand, "--reference and --code (or --code-file) go together");
  }
  if (create && !IsReferenceNumber(options.Value("--reference"))) {
    return UsageError(kCommand, "--reference takes a number from 1 to 2147483647");
  }
  if (create && !options.Has("--ca")) return UsageError(kCommand, "needs --ca to create a user");
  SecretSource password_source{options.Value("--password-file"), options.Has("--password-stdin")};
  if (!password_source.file.empty() && password_source.from_stdin) {
    return UsageError(kCommand, "takes --password-file or --password-stdin, not both");
  }
  if (!CanReadSecret(password_source)) {
    return UsageError(kCommand,
                      "needs the password: --password-file FILE, --password-stdin, or a "
                      "terminal to ask at");
  }
  CertificateOutputs outputs;
  if (!ReadOutputOptions(options, &outputs, &error)) return UsageError(kCommand, error);

  const std::string profile = AbsolutePath(options.Value("--profile"));
  const std::string ca = ToolkitLocation(options.Value("--ca"));
  const std::string directory = ToolkitLocation(options.Value("--directory"));
  if (const int status = CheckBeforeEnrolling(kCommand, kIpsecService, ca, directory, outputs);
      status != kExitOk) {
    return status;
  }
  if (options.Value("--profile") == "-") {
    return UsageError(kCommand, "--profile names a file; '-' cannot be one");
  }
  // A link to nothing counts as there: the toolkit would not follow it.
  struct stat info {};
  const bool profile_exists = lstat(profile.c_str(), &info) == 0;
  if (create && profile_exists) {
    const bool regular = stat(profile.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    return Failure(kCommand, regular ? profile +
                                           " already exists; to log in to it, leave out "
                                           "--reference and --code"
                                     : "will not make the profile " + profile +
                                           ": the name is taken by something that is not a "
                                           "profile file");
  }
  if (create && !CanCreate(profile, &error)) return Failure(kCommand, error);
  if (!create && !profile_exists) return Failure(kCommand, "there is no profile " + profile);

  std::string code;
  if (create && !ReadCode(kCommand, options, &code, &error)) return Failure(kCommand, error);
  std::string password;
  if (!ReadSecret(password_source, "password", create, &password, &error)) {
    return Failure(kCommand, error);
  }
  // From here on an interrupt waits until the profile and certificates are
  // written, or the codes are still unused.
  const HeldSignals held;
  PrivateTempFolder temp;
  if (!temp.Make(&error)) {
    Wipe(&password);
    return Failure(kCommand, error);
  }
  CQnPMCrtUsrEntIPSec record("veskar", ca.c_str(), directory.c_str(), password.c_str(),
                             profile.c_str(), code.c_str(), options.Value("--reference").c_str());
  Wipe(&password);
  CQnEntIPSecPMA agent;
  const Enrollment enrollment = Enroll(agent, record);
  if (enrollment.message != 0 || !enrollment.exception.empty()) {
    return ReportFailure(kCommand, enrollment, agent,
                         Hint(enrollment.message, ca, options.Value("--reference"), code, temp));
  }
  return ReportSuccess(kCommand, create ? "created the user's profile and logged in" : "logged in",
                       enrollment, outputs, "  profile: " + profile + "\n");
}

}  // namespace veskar_cli
