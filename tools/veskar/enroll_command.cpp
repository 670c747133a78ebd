// veskar enroll: the steps the CMS and IPSec enrollments share, and the IPSec
// enrollment, which creates the user's profile first or logs in to one.

#include <veskar/ipsec_agent.h>
#include <veskar/message_ids.h>
#include <veskar/records.h>
#include <veskar/services.h>
#include <veskar/toolkit/kmpapi32.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "ca/user_register.h"
#include "enroll.h"
#include "os.h"
#include "pki/distinguished_name.h"
#include "pki/folders.h"
#include "standins/common/ca_location.h"
#include "standins/kmpapi32/kmp_status.h"

namespace veskar_cli {
namespace {

namespace pki = veskar::pki;

// A reference number as a CA hands it out: decimal digits only, from 1 to
// INT_MAX (the IPSec toolkit takes it as an int).
bool IsReferenceNumber(const std::string& text) {
  int number = 0;
  return text.size() <= 10 && veskar::ca::ParseReferenceNumber(text, &number);
}

// Where the toolkit reads a location, a line break would end it early.
bool IsOneLine(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

// The usage of the reference number and the code: "" when right.
std::string PairProblem(const Options& options, bool optional, bool* has_pair) {
  const bool code = options.Has(kCodeOption.name) || options.Has(kCodeFileOption.name);
  const bool reference_file = options.Has("--reference-file");
  const bool reference = reference_file || options.Has(kReferenceOption.name);
  if (options.Has(kCodeOption.name) && options.Has(kCodeFileOption.name)) {
    return "takes --code or --code-file, not both";
  }
  if (optional && reference != code) return "--reference and --code (or --code-file) go together";
  if (!code) return optional ? "" : "needs --code or --code-file";
  if (reference_file == options.Has(kReferenceOption.name)) {
    return reference_file ? "takes --reference or --reference-file, not both"
                          : "needs --reference or --reference-file";
  }
  if (!reference_file && !IsReferenceNumber(options.Value(kReferenceOption.name))) {
    return "--reference takes a number from 1 to 2147483647";
  }
  *has_pair = true;
  return "";
}

// --format takes "pem" or "der", in any case.
std::string ReadOutputOptions(const Options& options, EnrollmentInput* input) {
  input->certificate = options.Value(kCertOption.name);
  input->ca_certificate = options.Value(kCaCertOption.name);
  std::string format = options.Value(kFormatOption.name, "pem");
  for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (format != "pem" && format != "der") return "--format takes pem or der";
  input->der = format == "der";
  if (!input->certificate.empty() &&
      NormalPath(input->certificate) == NormalPath(input->ca_certificate)) {
    return "--cert and --ca-cert name the same file";
  }
  return "";
}

// A folder is made absolute, as the toolkit may resolve it from elsewhere;
// anything else, such as a server's URL, is passed on as given.
std::string ToolkitLocation(const std::string& value) {
  return pki::IsFolder(value) ? AbsolutePath(value) : value;
}

}  // namespace

std::string ReadEnrollmentOptions(const Options& options, bool pair_optional,
                                  EnrollmentInput* input) {
  const std::string problem = PairProblem(options, pair_optional, &input->has_pair);
  return problem.empty() ? ReadOutputOptions(options, input) : problem;
}

// The reference number is given, or the first line of the --reference-file
// file or of standard input; the authorisation code is given, with a warning
// that others can see it, or the first line of the --code-file file.
bool ReadPair(const char* command, const Options& options, EnrollmentInput* input,
              std::string* error) {
  if (options.Has("--reference-file")) {
    const std::string file = options.Value("--reference-file");
    const SecretSource source{file == "-" ? "" : file, file == "-"};
    if (!ReadSecret(source, "reference number", false, &input->reference, error)) return false;
    if (!IsReferenceNumber(input->reference)) {
      *error = "--reference-file must hold a number from 1 to 2147483647";
      return false;
    }
  } else {
    input->reference = options.Value(kReferenceOption.name);
  }
  if (options.Has(kCodeFileOption.name)) {
    return ReadSecret(SecretSource{options.Value(kCodeFileOption.name), false},
                      "authorisation code", false, &input->code.text, error);
  }
  std::fprintf(stderr,
               "veskar %s: warning: --code shows the authorisation code to anyone who lists "
               "processes; --code-file FILE keeps it out of sight\n",
               command);
  input->code.text = options.Value(kCodeOption.name);
  return true;
}

int CheckBeforeEnrolling(const char* command, int service, const Options& options,
                         EnrollmentInput* input) {
  input->ca = ToolkitLocation(options.Value(kCaOption.name));
  input->directory = ToolkitLocation(options.Value(kDirectoryOption.name));
  const Toolkit& toolkit = ToolkitOf(service);
  if (!(GetAvaliableServices() & service)) {
    return Failure(command, std::string(toolkit.service) + " is not available: " + toolkit.file +
                                " was not loaded ('veskar services' says why)");
  }
  if (!IsOneLine(input->ca) || !IsOneLine(input->directory)) {
    return Failure(command, "a location cannot hold a line break");
  }
  // The stand-ins take folders; another toolkit takes its own kind of
  // location, which is passed on as given.
  if (StandInLoaded(toolkit)) {
    std::string reason;
    if (!input->ca.empty() && !veskar::standins::CheckCaLocation(input->ca, &reason)) {
      return Failure(command, reason);
    }
    if (!input->directory.empty() && !pki::IsFolder(input->directory)) {
      return Failure(command, "there is no directory folder " + input->directory);
    }
  }
  std::string error;
  for (const std::string* path : {&input->certificate, &input->ca_certificate}) {
    if (!path->empty() && !CheckOutput(*path, OutputKind::kCertificate, &error)) {
      return Failure(command, error);
    }
  }
  return kExitOk;
}

int ReportFailure(const char* command, const char* toolkit, int ini_failed,
                  const Enrollment& enrollment, const PrivateTempFolder& temp,
                  const std::string& hint) {
  if (!enrollment.exception.empty()) {
    return Failure(command, "the library failed: " + enrollment.exception);
  }
  std::string text =
      "failed with message " + std::to_string(enrollment.message) + ": " + enrollment.text;
  std::string extended = enrollment.extended;
  extended.erase(extended.find_last_not_of("\r\n") + 1);
  if (!extended.empty()) text += "\n  " + extended;
  std::string cause = hint;
  if (enrollment.message == veskar::kMsgServiceNotAvailable) {
    cause = std::string("the ") + toolkit +
            " toolkit lacks entry points ('veskar services' says which)";
  } else if (enrollment.message == ini_failed) {
    const int failure = TryMakingAFileIn(temp.path());
    cause = failure == 0 ? "the library could not write its temporary files in " + temp.parent()
                         : "the library cannot write its temporary files in " + temp.parent() +
                               ": " + pki::ErrnoText(failure);
  }
  if (!cause.empty()) text += "\n  " + cause;
  return Failure(command, text);
}

int ReportSuccess(const char* command, const std::string& headline, const Enrollment& enrollment,
                  const EnrollmentInput& input, const std::string& more_lines) {
  const pki::X509Ptr issued =
      pki::CertificateFromBytes(enrollment.certificate.get(), enrollment.length);
  X509* c = issued.get();
  bool written = c != nullptr;
  std::string error = "the toolkit reported success but returned no certificate";
  std::string delivered;
  if (written) {
    delivered = "  subject: " + pki::NameText(X509_get_subject_name(c)) +
                "\n  issuer: " + pki::NameText(X509_get_issuer_name(c)) +
                "\n  serial: " + pki::SerialText(c) +
                "\n  valid from: " + pki::TimeText(X509_get0_notBefore(c)) +
                "\n  valid until: " + pki::TimeText(X509_get0_notAfter(c)) + "\n";
  }
  const auto deliver = [&](const std::string& path, const AgentBuffer& der, unsigned int length,
                           const char* what) {
    if (!written || path.empty()) return;
    written = WriteCertificate(path, der.get(), length, input.der, &error);
    if (written) delivered += std::string("  ") + what + ": " + path + "\n";
  };
  deliver(input.certificate, enrollment.certificate, enrollment.length, "certificate");
  deliver(input.ca_certificate, enrollment.ca_certificate, enrollment.ca_length, "CA certificate");
  // The pair is spent and the certificate issued whatever fails from here,
  // so a failure says exactly what was delivered and where.
  if (!written) {
    return Failure(command, error + "\n  nevertheless " + headline +
                                ", which cannot be undone; delivered so far:\n" + delivered +
                                more_lines);
  }
  // A certificate on standard output is kept apart from the report.
  std::FILE* report =
      GoesToStandardOutput(input.certificate) || GoesToStandardOutput(input.ca_certificate)
          ? stderr
          : stdout;
  std::fprintf(report, "%s\n%s%s", headline.c_str(), delivered.c_str(), more_lines.c_str());
  return kExitOk;
}

namespace {

constexpr char kIpsec[] = "enroll ipsec";

// The stand-in's own reason for its last failed creation or log-in on this
// thread, which the library does not pass on; "" from another toolkit.
std::string ToolkitReason() {
  const Toolkit& toolkit = ToolkitOf(veskar::kServiceIpsec);
  if (!StandInLoaded(toolkit)) return "";
  const EntryName entry = {"IKMPGetErrString", VESKAR_TOOLKIT_DECORATED_NAME(IKMPGetErrString, 4)};
  const auto reason = reinterpret_cast<PFN_IKMPGetErrString>(LoadedToolkitEntry(toolkit, entry));
  const char* text = reason != nullptr ? reason(veskar::kmpapi::kKmpLastReason) : nullptr;
  return text != nullptr ? text : "";
}

// The toolkit's own reason; without one, the CA's register is asked, or
// the likely causes are named.
std::string Hint(int message, const EnrollmentInput& input) {
  const std::string reason = ToolkitReason();
  if (!reason.empty() &&
      (message == veskar::kMsgIpsecCreateUserFailed || message == veskar::kMsgIpsecLoginFailed)) {
    return (message == veskar::kMsgIpsecLoginFailed ? "the toolkit could not log in: "
                                                    : "the toolkit could not create the user: ") +
           reason;
  }
  switch (message) {
    case veskar::kMsgIpsecCreateUserFailed: {
      // The stand-ins' CA register says why it refuses a pair.
      int number = 0;
      const std::string reason =
          veskar::ca::ParseReferenceNumber(input.reference, &number)
              ? veskar::standins::CaLocation::Parse(input.ca).PairRefusal(number, input.code.text)
              : "";
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

// The shared usage checks, with the pair optional: with one it creates the
// user and the profile, else it logs in. Then its own checks.
std::string IpsecUsageProblem(const Options& options, EnrollmentInput* input,
                              SecretSource* password) {
  const std::string shared = ReadEnrollmentOptions(options, true, input);
  if (!shared.empty()) return shared;
  if (!options.Has("--profile")) return "needs --profile";
  if (options.Value("--profile") == "-") return "--profile names a file; '-' cannot be one";
  if (input->has_pair && !options.Has("--ca")) return "needs --ca to create a user";
  return SecretOptions(options, "--password-file", "FILE", "--password-stdin", "password",
                       password);
}

// The profile must be new to be created, and there to log in to. A link to
// nothing counts as there: the toolkit would not follow it.
int CheckProfile(const std::string& profile, bool create) {
  namespace fs = std::filesystem;
  std::error_code failed;
  const bool exists = fs::exists(fs::symlink_status(profile, failed));
  if (create && exists) {
    if (fs::is_regular_file(profile, failed)) {
      return Failure(
          kIpsec, profile + " already exists; to log in to it, leave out --reference and --code");
    }
    return Failure(kIpsec, "will not make the profile " + profile +
                               ": the name is taken by something that is not a profile file");
  }
  std::string error;
  if (create && !CanCreate(profile, &error)) return Failure(kIpsec, error);
  if (!create && !exists) return Failure(kIpsec, "there is no profile " + profile);
  return kExitOk;
}

int RunEnrollIpsec(const Options& options) {
  EnrollmentInput input;
  SecretSource password_source;
  if (const std::string problem = IpsecUsageProblem(options, &input, &password_source);
      !problem.empty()) {
    return UsageError(kIpsec, problem);
  }
  const std::string profile = AbsolutePath(options.Value("--profile"));
  const bool create = input.has_pair;
  if (const int status = CheckBeforeEnrolling(kIpsec, veskar::kServiceIpsec, options, &input);
      status != kExitOk) {
    return status;
  }
  if (const int status = CheckProfile(profile, create); status != kExitOk) return status;
  std::string error;
  SecretText password;
  if ((create && !ReadPair(kIpsec, options, &input, &error)) ||
      !ReadSecret(password_source, "password", create, &password.text, &error)) {
    return Failure(kIpsec, error);
  }

  // From here on an interrupt waits until everything is written, or the
  // pair is still unused.
  const HeldSignals held;
  PrivateTempFolder temp;
  if (!temp.Make(&error)) return Failure(kIpsec, error);
  CQnPMCrtUsrEntIPSec record("veskar", input.ca.c_str(), input.directory.c_str(),
                             password.text.c_str(), profile.c_str(), input.code.text.c_str(),
                             input.reference.c_str());
  Cleanse(&password.text);
  CQnEntIPSecPMA agent;
  const Enrollment enrollment = Enroll(agent, record);
  if (enrollment.failed()) {
    return ReportFailure(kIpsec, "IPSec", veskar::kMsgIpsecIniFailed, enrollment, temp,
                         Hint(enrollment.message, input));
  }
  return ReportSuccess(kIpsec, create ? "created the user's profile and logged in" : "logged in",
                       enrollment, input, "  profile: " + profile + "\n");
}

constexpr Option kProfileOption = {"--profile", "FILE", "the profile"};
constexpr Option kPasswordFileOption = {"--password-file", "FILE",
                                        "read the password from the first line of FILE"};
constexpr Option kPasswordStdinOption = {"--password-stdin", nullptr,
                                         "read it from the first line of standard input\n"
                                         "(otherwise it is asked for, without echo, on the\n"
                                         "terminal)"};

const Verb kEnrollIpsecVerb = {
    kIpsec,
    RunEnrollIpsec,
    {},
    "usage: veskar enroll ipsec --profile FILE [--ca DIR] [--directory DIR]\n"
    "                           [--reference N (--code CODE | --code-file FILE)]\n"
    "                           [--password-file FILE | --password-stdin]\n"
    "                           [--cert FILE] [--ca-cert FILE] [--format pem|der]\n",
    "With --reference and --code, creates the user through the IPSec toolkit: a new\n"
    "key, a certificate from the CA (--ca is needed then), and the password-protected\n"
    "profile FILE, which must not exist yet. Without them, logs in to the existing\n"
    "profile FILE. Either way it then fetches the user's and the CA's certificates.\n",
    {kProfileOption, kCaOption, kDirectoryOption, kReferenceOption, kCodeOption, kCodeFileOption,
     kPasswordFileOption, kPasswordStdinOption, kCertOption, kCaCertOption, kFormatOption},
    "The password is never taken as an argument. On success prints the\n"
    "certificate's subject, issuer, serial number and validity (on standard error\n"
    "when a certificate goes to standard output). On failure prints the message\n"
    "number, its text and the likely reason, and exits 1. Bad usage exits 2. An\n"
    "interrupt (Ctrl-C, SIGTERM) while the user is created takes effect once the\n"
    "profile and the certificates are written, or the codes are still unused.\n"};

}  // namespace

const Command kEnrollCommand = {
    "enroll",
    "enroll a user for a certificate (CMS or IPSec)",
    nullptr,
    "Enrolls a user for a certificate through the library, as a host does: 'cms'\n"
    "through the CMS toolkit with a PKCS #10 request, 'ipsec' through the IPSec\n"
    "toolkit into a password-protected profile. 'veskar enroll cms --help' and\n"
    "'veskar enroll ipsec --help' say more.\n",
    {&kEnrollCmsVerb, &kEnrollIpsecVerb}};

}  // namespace veskar_cli
