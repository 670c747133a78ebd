// veskar enroll cms: a CMS enrollment through the library, from a PKCS #10
// request in a file or a key and request made on the spot.

#include <unistd.h>
#include <veskar/cms_agent.h>
#include <veskar/records.h>

#include "enroll.h"
#include "file_io.h"
#include "output_file.h"
#include "run_guard.h"

namespace veskar_cli {

const char kEnrollCmsUsage[] =
    "usage: veskar enroll cms --ca DIR [--directory DIR] --reference N\n"
    "                         (--code CODE | --code-file FILE)\n"
    "                         (--request FILE | --new-key FILE [--common-name NAME])\n"
    "                         [--publish] --cert FILE [--ca-cert FILE] [--format pem|der]\n"
    "                         [--protected-copy FILE]\n\n"
    "Enrolls through the CMS toolkit with the reference number and authorisation\n"
    "code the CA's administrator handed out ('veskar ca add-user').\n\n"
    "  --ca DIR|URL        the CA location: for the stand-in toolkit, a CMP server's\n"
    "                      URL (e.g. http://127.0.0.1:8080/pkix/) or the CA's folder\n"
    "  --directory DIR     the directory location: where --publish puts the certificate\n"
    "  --reference N       the reference number\n"
    "  --code CODE         the authorisation code (others see it in the process\n"
    "                      list: prefer --code-file)\n"
    "  --code-file FILE    the authorisation code, from the first line of FILE (keeps\n"
    "                      it out of the process list)\n"
    "  --request FILE      a PKCS #10 request (PEM or DER) for a key you have\n"
    "  --new-key FILE      make a new EC P-256 key, written to FILE as owner-only PEM\n"
    "                      (an existing FILE is never replaced), and a request for it\n"
    "  --common-name NAME  the name in that request (default \"Veskar User\"); the CA\n"
    "                      certifies the name it registered, whatever a request says\n"
    "  --publish           have the CA publish the certificate in the directory\n"
    "  --cert FILE         where the user's certificate goes ('-': standard output)\n"
    "  --ca-cert FILE      where the CA's certificate goes\n"
    "  --format pem|der    the form of both (default pem)\n"
    "  --protected-copy FILE\n"
    "                      where the protected-data copy goes (an owner-only file)\n\n"
    "On success prints the certificate's subject, issuer, serial number and validity\n"
    "(on standard error when a certificate goes to standard output). The library\n"
    "also keeps both certificates in a protected-data file, protected by the\n"
    "reference number: this run's copy goes to --protected-copy, else to an\n"
    "ENT*.DER file in the temporary folder ($TMPDIR, else /tmp), and its name is\n"
    "printed ('veskar protected get' reads it). On failure prints the message\n"
    "number, its text and the toolkit's reason, removes a key it made, and exits 1.\n"
    "Bad usage exits 2. An interrupt (Ctrl-C, SIGTERM) during the enrollment takes\n"
    "effect once its files are all written, or all removed.\n";

namespace {

constexpr char kCommand[] = "enroll cms";
constexpr int kCmsService = 4;
constexpr char kDefaultCommonName[] = "Veskar User";

std::string Hint(int message, const PrivateTempFolder& temp) {
  switch (message) {
    case 51000:
      return "the CMS toolkit lacks entry points ('veskar services' says which)";
    case 52003:
      return "the toolkit could not log in to the CA at the CA location";
    case 52010:
      return TempFilesHint(temp);
    default:
      return "";
  }
}

}  // namespace

int RunEnrollCms(const Args& args) {
  Options options;
  std::string error;
  if (!options.Parse(args,
                     {kCaOption,
                      kDirectoryOption,
                      kReferenceOption,
                      kCodeOption,
                      kCodeFileOption,
                      {"--request", true},
                      {"--new-key", true},
                      {"--common-name", true},
                      {"--publish", false},
                      kCertOption,
                      kCaCertOption,
                      kFormatOption,
                      kProtectedCopyOption},
                     &error)) {
    return UsageError(kCommand, error);
  }
  if (const char* missing = options.FirstMissing({"--ca", "--reference", "--cert"})) {
    return UsageError(kCommand, std::string("needs ") + missing);
  }
  const std::string code_option = CodeOptionGiven(options);
  if (code_option.empty()) return UsageError(kCommand, "needs --code or --code-file");
  if (code_option == "both") return UsageError(kCommand, "takes --code or --code-file, not both");
  const std::string key_path = options.Value("--new-key");
  const bool new_key = options.Has("--new-key");
  if (new_key == options.Has("--request")) {
    return UsageError(kCommand, new_key ? "takes --request or --new-key, not both"
                                        : "needs --request FILE or --new-key FILE");
  }
  if (options.Has("--common-name") && !new_key) {
    return UsageError(kCommand, "--common-name goes with --new-key");
  }
  if (options.Has("--publish") && !options.Has("--directory")) {
    return UsageError(kCommand, "--publish needs --directory");
  }
  const std::string reference = options.Value("--reference");
  if (!IsReferenceNumber(reference)) {
    return UsageError(kCommand, "--reference takes a number from 1 to 2147483647");
  }
  CertificateOutputs outputs;
  if (!ReadOutputOptions(options, &outputs, &error)) return UsageError(kCommand, error);
  if (new_key && (NormalPath(key_path) == NormalPath(outputs.certificate) ||
                  NormalPath(key_path) == NormalPath(outputs.ca_certificate))) {
    return UsageError(kCommand, "--new-key and a certificate name the same file");
  }
  const std::string copy_path = options.Value(kProtectedCopyOption.name);
  if (!copy_path.empty()) {
    const std::string copy = NormalPath(copy_path);
    if (copy_path == "-" || GoesToStandardOutput(copy_path)) {
      return UsageError(kCommand, "--protected-copy takes a file, not standard output");
    }
    if ((new_key && copy == NormalPath(key_path)) || copy == NormalPath(outputs.certificate) ||
        copy == NormalPath(outputs.ca_certificate)) {
      return UsageError(kCommand, "--protected-copy names the same file as another output");
    }
  }

  const std::string ca = ToolkitLocation(options.Value("--ca"));
  const std::string directory = ToolkitLocation(options.Value("--directory"));
  if (const int status = CheckBeforeEnrolling(kCommand, kCmsService, ca, directory, outputs);
      status != kExitOk) {
    return status;
  }
  if ((new_key && !CheckOutput(key_path, OutputKind::kNewKey, &error)) ||
      (!copy_path.empty() && !CheckOutput(copy_path, OutputKind::kSecret, &error))) {
    return Failure(kCommand, error);
  }
  Bytes request;
  if (!new_key && !ReadRequest(options.Value("--request"), &request, &error)) {
    return Failure(kCommand, error);
  }
  std::string code;
  if (!ReadCode(kCommand, options, &code, &error)) return Failure(kCommand, error);

  // From here on an interrupt waits until the key, the certificate and the
  // protected copy are all written, or all gone.
  const HeldSignals held;
  PrivateTempFolder temp;
  if (!temp.Make(&error)) return Failure(kCommand, error);
  if (new_key) {
    const std::string name =
        options.Has("--common-name") ? options.Value("--common-name") : kDefaultCommonName;
    if (!NewKeyAndRequest(key_path, name, &request, &error)) return Failure(kCommand, error);
  }
  CQnPMCrtUsrEntCms record("veskar", ca.c_str(), directory.c_str(), code.c_str(), reference.c_str(),
                           options.Has("--publish") ? 1 : 0, request.data(),
                           static_cast<unsigned int>(request.size()));
  CQnEntCmsPMA agent;
  const Enrollment enrollment = Enroll(agent, record);
  if (enrollment.message != 0 || !enrollment.exception.empty()) {
    if (new_key) unlink(key_path.c_str());
    return ReportFailure(kCommand, enrollment, agent, Hint(enrollment.message, temp));
  }

  std::string more;
  if (new_key) more += "  key: " + key_path + "\n";
  if (options.Has("--publish")) more += "  published in: " + directory + "\n";
  const std::string copy = KeepProtectedCopy(temp, copy_path, &error);
  if (!copy.empty()) more += "  protected copy: " + copy + "\n";
  const int status =
      ReportSuccess(kCommand, "enrolled through the CMS toolkit", enrollment, outputs, more);
  if (!error.empty()) return Failure(kCommand, error);
  return status;
}

}  // namespace veskar_cli
