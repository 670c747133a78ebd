// veskar enroll ipsec: an IPSec enrollment through the library, creating the
// user's profile first or logging in to one that exists.

#include <veskar/ipsec_agent.h>
#include <veskar/message_ids.h>
#include <veskar/records.h>
#include <veskar/services.h>

#include "enroll.h"

namespace veskar_cli {
namespace {

constexpr char kCommand[] = "enroll ipsec";

class IpsecEnrollment : public EnrollmentKind {
 public:
  IpsecEnrollment()
      : EnrollmentKind(
            {kCommand, veskar::kServiceIpsec, "IPSec", veskar::kMsgIpsecIniFailed, true}) {}

  std::string UsageProblem(const Options& options, const EnrollmentInput& input) override {
    if (!options.Has("--profile")) return "needs --profile";
    if (options.Value("--profile") == "-") return "--profile names a file; '-' cannot be one";
    create_ = input.has_pair;
    if (create_ && !options.Has("--ca")) return "needs --ca to create a user";
    password_source_ = {options.Value("--password-file"), options.Has("--password-stdin")};
    if (!password_source_.file.empty() && password_source_.from_stdin) {
      return "takes --password-file or --password-stdin, not both";
    }
    if (!CanReadSecret(password_source_)) {
      return "needs the password: --password-file FILE, --password-stdin, or a terminal to ask at";
    }
    profile_ = AbsolutePath(options.Value("--profile"));
    return "";
  }

  int Prepare(const Options& /*options*/) override {
    // A link to nothing counts as there: the toolkit would not follow it.
    FileStatus status;
    int failure = 0;
    const bool exists = StatusOf(profile_, false, &status, &failure);
    if (create_ && exists) {
      const bool regular =
          StatusOf(profile_, true, &status, &failure) && status.type == FileType::kRegular;
      return Failure(kCommand, regular ? profile_ +
                                             " already exists; to log in to it, leave out "
                                             "--reference and --code"
                                       : "will not make the profile " + profile_ +
                                             ": the name is taken by something that is not a "
                                             "profile file");
    }
    std::string error;
    if (create_ && !CanCreate(profile_, &error)) return Failure(kCommand, error);
    if (!create_ && !exists) return Failure(kCommand, "there is no profile " + profile_);
    return kExitOk;
  }

  bool ReadSecrets(std::string* error) override {
    return ReadSecret(password_source_, "password", create_, &password_.text, error);
  }

  bool Run(const EnrollmentInput& input, Enrollment* result, std::string* /*error*/) override {
    CQnPMCrtUsrEntIPSec record("veskar", input.ca.c_str(), input.directory.c_str(),
                               password_.text.c_str(), profile_.c_str(), input.code.text.c_str(),
                               input.reference.c_str());
    Cleanse(&password_.text);
    CQnEntIPSecPMA agent;
    *result = Enroll(agent, record);
    return true;
  }

  // This toolkit gives no reason of its own, so the CA's register is asked,
  // or the likely causes are named.
  std::string Hint(int message, const EnrollmentInput& input) override {
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

  std::string Headline() const override {
    return create_ ? "created the user's profile and logged in" : "logged in";
  }

  std::string Delivered(const PrivateTempFolder& /*temp*/, std::string* /*error*/) override {
    return "  profile: " + profile_ + "\n";
  }

 private:
  bool create_ = false;
  std::string profile_;
  SecretSource password_source_;
  SecretText password_;
};

int RunEnrollIpsec(const Options& options) {
  IpsecEnrollment kind;
  return RunEnrollment(options, kind);
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
