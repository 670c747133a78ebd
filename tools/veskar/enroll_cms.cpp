// veskar enroll cms: a CMS enrollment through the library, from a PKCS #10
// request in a file or a key and request made on the spot.

#include <dirent.h>
#include <unistd.h>
#include <veskar/cms_agent.h>
#include <veskar/records.h>

#include <cstdlib>
#include <set>

#include "enroll.h"
#include "file_io.h"

namespace veskar_cli {

const char kEnrollCmsUsage[] =
    "usage: veskar enroll cms --ca DIR [--directory DIR]\n"
    "                         (--reference N | --reference-file F)\n"
    "                         (--code CODE | --code-file FILE)\n"
    "                         (--request FILE | --new-key FILE [--common-name NAME])\n"
    "                         [--publish] --cert FILE [--ca-cert FILE] [--format pem|der]\n\n"
    "Enrolls through the CMS toolkit with the reference number and authorisation\n"
    "code the CA's administrator handed out ('veskar ca add-user').\n\n"
    "  --ca DIR            the CA location: for the stand-in toolkit, the CA's folder\n"
    "  --directory DIR     the directory location: where --publish puts the certificate\n"
    "  --reference N       the reference number\n"
    "  --reference-file F  the reference number, from the first line of F ('-':\n"
    "                      standard input); as it protects the protected-data copy,\n"
    "                      this keeps it out of the process list\n"
    "  --code CODE         the authorisation code\n"
    "  --code-file FILE    the authorisation code, from the first line of FILE (keeps\n"
    "                      it out of the process list)\n"
    "  --request FILE      a PKCS #10 request (PEM or DER) for a key you have\n"
    "  --new-key FILE      make a new EC P-256 key, written to FILE as owner-only PEM\n"
    "                      (an existing FILE is never replaced), and a request for it\n"
    "  --common-name NAME  the name in that request (default \"Veskar User\"); the CA\n"
    "                      certifies the name it registered, whatever a request says\n"
    "  --publish           have the CA publish the certificate in the directory\n"
    "  --cert FILE         where the user's certificate goes\n"
    "  --ca-cert FILE      where the CA's certificate goes\n"
    "  --format pem|der    the form of both (default pem)\n\n"
    "On success prints the certificate's subject, issuer, serial number and validity.\n"
    "The library also keeps both certificates in a protected-data file ENT*.DER in\n"
    "the temporary folder ($TMPDIR, else /tmp), protected by the reference number;\n"
    "its name is printed ('veskar protected get' reads it). On failure prints the\n"
    "message number, its text and the toolkit's reason, removes a key it made, and\n"
    "exits 1. Bad usage exits 2.\n";

namespace {

constexpr char kCommand[] = "enroll cms";
constexpr int kCmsService = 4;
constexpr char kDefaultCommonName[] = "Veskar User";

std::string TempFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

// The protected-data files in the temporary folder: the library names them
// ENT<hex>.DER.
std::set<std::string> ProtectedDataFiles() {
  std::set<std::string> names;
  const std::string folder = TempFolder();
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 7 && name.compare(0, 3, "ENT") == 0 &&
          name.compare(name.size() - 4, 4, ".DER") == 0) {
        names.insert(folder + "/" + name);
      }
    }
    closedir(dir);
  }
  return names;
}

std::string Hint(int message) {
  switch (message) {
    case 51000:
      return "the CMS toolkit lacks entry points ('veskar services' says which)";
    case 52003:
      return "the toolkit could not log in to the CA at the CA location";
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
                      kReferenceFileOption,
                      kCodeOption,
                      kCodeFileOption,
                      {"--request", true},
                      {"--new-key", true},
                      {"--common-name", true},
                      {"--publish", false},
                      kCertOption,
                      kCaCertOption,
                      kFormatOption},
                     &error)) {
    return UsageError(kCommand, error);
  }
  if (const char* missing = options.FirstMissing({"--ca", "--cert"})) {
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
  std::string reference;
  bool usage = false;
  if (!ReadReference(options, &reference, &usage, &error)) {
    return usage ? UsageError(kCommand, error) : Failure(kCommand, error);
  }
  CertificateOutputs outputs;
  if (!ReadOutputOptions(options, &outputs, &error)) return UsageError(kCommand, error);
  if (new_key && (NormalPath(key_path) == NormalPath(outputs.certificate) ||
                  NormalPath(key_path) == NormalPath(outputs.ca_certificate))) {
    return UsageError(kCommand, "--new-key and a certificate name the same file");
  }

  const std::string ca = ToolkitLocation(options.Value("--ca"));
  const std::string directory = ToolkitLocation(options.Value("--directory"));
  if (const int status = CheckBeforeEnrolling(kCommand, kCmsService, ca, directory, outputs);
      status != kExitOk) {
    return status;
  }
  std::string code;
  if (!ReadCode(options, &code, &error)) return Failure(kCommand, error);
  Bytes request;
  if (new_key) {
    const std::string name =
        options.Has("--common-name") ? options.Value("--common-name") : kDefaultCommonName;
    if (!CanCreate(key_path, &error) || !NewKeyAndRequest(key_path, name, &request, &error)) {
      return Failure(kCommand, error);
    }
  } else if (!ReadRequest(options.Value("--request"), &request, &error)) {
    return Failure(kCommand, error);
  }

  const std::set<std::string> files_before = ProtectedDataFiles();
  CQnPMCrtUsrEntCms record("veskar", ca.c_str(), directory.c_str(), code.c_str(), reference.c_str(),
                           options.Has("--publish") ? 1 : 0, request.data(),
                           static_cast<unsigned int>(request.size()));
  CQnEntCmsPMA agent;
  const Enrollment enrollment = Enroll(agent, record);
  if (enrollment.message != 0 || !enrollment.exception.empty()) {
    if (new_key) unlink(key_path.c_str());
    return ReportFailure(kCommand, enrollment, agent, Hint(enrollment.message));
  }

  std::string more;
  if (new_key) more += "  key: " + key_path + "\n";
  if (options.Has("--publish")) more += "  published in: " + directory + "\n";
  for (const std::string& file : ProtectedDataFiles()) {
    if (files_before.count(file) == 0) more += "  protected copy: " + file + "\n";
  }
  return ReportSuccess(kCommand, "enrolled through the CMS toolkit", enrollment, outputs, more);
}

}  // namespace veskar_cli
