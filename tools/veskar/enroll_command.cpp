// veskar enroll: what the CMS and IPSec enrollments share, from the checks
// made before the library is called to the report afterwards.

#include <unistd.h>
#include <veskar/services.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "enroll.h"
#include "file_io.h"
#include "output_file.h"
#include "run_guard.h"
#include "secret_input.h"
#include "toolkit_search.h"
#include "x509_output.h"
#ifdef VESKAR_HAVE_LOCAL_CA
#include "ca/local_ca.h"
#endif

namespace veskar_cli {

const char kEnrollUsage[] =
    "usage: veskar enroll cms --ca DIR --reference N --code CODE ...\n"
    "       veskar enroll ipsec --ca DIR --profile FILE ...\n\n"
    "Enrolls a user for a certificate through the library, as a host does: 'cms'\n"
    "through the CMS toolkit with a PKCS #10 request, 'ipsec' through the IPSec\n"
    "toolkit into a password-protected profile. 'veskar enroll cms --help' and\n"
    "'veskar enroll ipsec --help' say more.\n";

namespace {

// Where the toolkit reads a location, a line break would end it early.
bool IsOneLine(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

// Checked before the library is called, so that a refusal costs no code pair.
int CheckOutputs(const char* command, const CertificateOutputs& outputs) {
  std::string error;
  for (const std::string* path : {&outputs.certificate, &outputs.ca_certificate}) {
    if (!path->empty() && !CheckOutput(*path, OutputKind::kCertificate, &error)) {
      return Failure(command, error);
    }
  }
  return kExitOk;
}

constexpr size_t kLargestProtectedCopy = 64 * 1024 * 1024;

// The protected-data copy is ENT<hex>.DER; the same name may already be
// taken in the folder it moves to.
bool MoveWithoutReplacing(const std::string& from, const std::string& folder,
                          const std::string& name, std::string* moved_to) {
  const std::string stem = name.substr(0, name.size() - 4);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate =
        folder + "/" + (attempt == 0 ? name : stem + "-" + std::to_string(attempt) + ".DER");
    if (link(from.c_str(), candidate.c_str()) == 0) {
      *moved_to = candidate;
      return true;
    }
    if (errno == EEXIST) continue;
    // A file system without hard links gets a copy, which never replaces
    // a file either.
    Bytes content;
    std::string error;
    int failure = 0;
    if (!veskar::pki::ReadWholeFile(from, kLargestProtectedCopy, &content, &error)) {
      return false;
    }
    if (veskar::pki::WriteFileAtomically(candidate, content.data(), content.size(), 0600,
                                         veskar::pki::Overwrite::kNever, &error, &failure)) {
      *moved_to = candidate;
      return true;
    }
    errno = failure;
    if (failure != EEXIST) return false;
  }
  return false;
}

}  // namespace

int RunEnroll(const Args& args) {
  return RunSubcommands(
      "enroll",
      {{"cms", kEnrollCmsUsage, RunEnrollCms}, {"ipsec", kEnrollIpsecUsage, RunEnrollIpsec}}, args);
}

bool ReadOutputOptions(const Options& options, CertificateOutputs* outputs, std::string* error) {
  outputs->certificate = options.Value(kCertOption.name);
  outputs->ca_certificate = options.Value(kCaCertOption.name);
  if (options.Has(kFormatOption.name) &&
      !ParseCertFormat(options.Value(kFormatOption.name), &outputs->format)) {
    *error = "--format takes pem or der";
    return false;
  }
  if (!outputs->certificate.empty() &&
      NormalPath(outputs->certificate) == NormalPath(outputs->ca_certificate)) {
    *error = "--cert and --ca-cert name the same file";
    return false;
  }
  return true;
}

int CheckBeforeEnrolling(const char* command, int service_bit, const std::string& ca_folder,
                         const std::string& directory_folder, const CertificateOutputs& outputs) {
  const Toolkit& toolkit = service_bit == kToolkits[0].bit ? kToolkits[0] : kToolkits[1];
  if (!(GetAvaliableServices() & service_bit)) {
    return Failure(command, std::string(toolkit.service) + " is not available: " + toolkit.file +
                                " was not loaded ('veskar services' says why)");
  }
  for (const std::string* folder : {&ca_folder, &directory_folder}) {
    if (!IsOneLine(*folder)) return Failure(command, "a location cannot hold a line break");
  }
  // The stand-ins take folders; another toolkit takes its own kind of
  // location, which is passed on as given.
  if (!StandInLoaded(toolkit.file)) return CheckOutputs(command, outputs);
  // A CMP server's URL is for the toolkit to reach; a folder must exist.
  const bool server = ca_folder.rfind("http://", 0) == 0 || ca_folder.rfind("https://", 0) == 0;
  if (!ca_folder.empty() && !server && !IsDirectory(ca_folder)) {
#ifdef VESKAR_HAVE_LOCAL_CA
    return Failure(command, "there is no CA folder " + ca_folder +
                                " (make one with 'veskar ca init " + ca_folder + "')");
#else
    return Failure(command, "there is no CA folder " + ca_folder);
#endif
  }
#ifdef VESKAR_HAVE_LOCAL_CA
  // A folder that is no CA, or one this user cannot read, is named as such
  // rather than left to a toolkit that may only say the request failed.
  std::unique_ptr<veskar::ca::LocalCa> ca;
  if (!ca_folder.empty() && !server) {
    const veskar::ca::CaStatus opened = veskar::ca::LocalCa::Open(ca_folder, &ca);
    if (!opened.ok()) return Failure(command, opened.message);
  }
#endif
  if (!directory_folder.empty() && !IsDirectory(directory_folder)) {
    return Failure(command, "there is no directory folder " + directory_folder);
  }
  return CheckOutputs(command, outputs);
}

std::string CodeOptionGiven(const Options& options) {
  const bool inline_code = options.Has(kCodeOption.name);
  const bool code_file = options.Has(kCodeFileOption.name);
  if (inline_code && code_file) return "both";
  return inline_code ? kCodeOption.name : code_file ? kCodeFileOption.name : "";
}

bool ReadCode(const char* command, const Options& options, std::string* code, std::string* error) {
  if (!options.Has(kCodeFileOption.name)) {
    std::fprintf(stderr,
                 "veskar %s: warning: --code shows the authorisation code to anyone who lists "
                 "processes; --code-file FILE keeps it out of sight\n",
                 command);
    *code = options.Value(kCodeOption.name);
    return true;
  }
  return ReadSecret(SecretSource{options.Value(kCodeFileOption.name), false}, "authorisation code",
                    false, code, error);
}

bool ReadReference(const Options& options, std::string* reference, bool* usage,
                   std::string* error) {
  *usage = true;
  const bool from_file = options.Has(kReferenceFileOption.name);
  if (from_file == options.Has(kReferenceOption.name)) {
    *error = from_file ? "takes --reference or --reference-file, not both"
                       : "needs --reference or --reference-file";
    return false;
  }
  if (from_file) {
    const std::string file = options.Value(kReferenceFileOption.name);
    *usage = false;
    if (!ReadSecret(SecretSource{file == "-" ? "" : file, file == "-"}, "reference number", false,
                    reference, error)) {
      return false;
    }
  } else {
    *reference = options.Value(kReferenceOption.name);
  }
  if (!IsReferenceNumber(*reference)) {
    *error = std::string(from_file ? "--reference-file must hold" : "--reference takes") +
             " a number from 1 to 2147483647";
    return false;
  }
  return true;
}

std::string ToolkitLocation(const std::string& value) {
  return IsDirectory(value) ? AbsolutePath(value) : value;
}

std::string KeepProtectedCopy(const PrivateTempFolder& temp, const std::string& chosen,
                              std::string* error) {
  const std::vector<std::string> copies = temp.Files("ENT", ".DER");
  if (copies.empty()) return "";
  const std::string made = temp.path() + "/" + copies.front();
  if (!chosen.empty()) {
    Bytes content;
    if (veskar::pki::ReadWholeFile(made, kLargestProtectedCopy, &content, error) &&
        WriteOutput(chosen, content.data(), content.size(), OutputKind::kSecret, error)) {
      return chosen;
    }
    *error = "the protected copy could not go to " + chosen + " (" + *error + ")";
  }
  std::string moved_to;
  if (MoveWithoutReplacing(made, temp.parent(), copies.front(), &moved_to)) return moved_to;
  const std::string reason = veskar::pki::ErrnoText(errno);
  if (error->empty()) {
    *error = "the protected copy could not be kept in " + temp.parent() + ": " + reason;
  }
  return "";
}

std::string RefusalReason(const std::string& ca_folder, const std::string& reference,
                          const std::string& code) {
#ifdef VESKAR_HAVE_LOCAL_CA
  namespace ca = veskar::ca;
  std::unique_ptr<ca::LocalCa> local_ca;
  std::vector<ca::RegisteredUser> users;
  if (!ca::LocalCa::Open(ca_folder, &local_ca).ok() || !local_ca->ListUsers(&users).ok()) return "";
  for (const ca::RegisteredUser& user : users) {
    if (std::to_string(user.reference_number) != reference) continue;
    // In the CA's own order: only the code's holder learns about its use.
    if (!ca::AuthorisationCodesMatch(code, user.authorisation_code)) {
      return "the authorisation code does not match reference number " + reference;
    }
    return user.used ? "reference number " + reference + " already used" : "";
  }
  return "reference number " + reference + " is not registered at the CA";
#else
  (void)ca_folder;
  (void)reference;
  (void)code;
  return "";
#endif
}

std::string TempFilesHint(const PrivateTempFolder& temp) {
  std::string probe = temp.path() + "/probe-XXXXXX";
  const int fd = mkstemp(&probe[0]);
  if (fd >= 0) {
    close(fd);
    unlink(probe.c_str());
    return "the library could not write its temporary files in " + temp.parent();
  }
  return "the library cannot write its temporary files in " + temp.parent() + ": " +
         veskar::pki::ErrnoText(errno);
}

int ReportFailure(const char* command, const Enrollment& enrollment, CQnPkiMsgAgent& agent,
                  const std::string& hint) {
  if (!enrollment.exception.empty()) {
    return Failure(command, "the library failed: " + enrollment.exception);
  }
  std::string text = "failed with message " + std::to_string(enrollment.message) + ": " +
                     static_cast<const char*>(agent.GetErrorString());
  std::string extended = static_cast<const char*>(agent.GetExtendedErrorString());
  while (!extended.empty() && (extended.back() == '\n' || extended.back() == '\r')) {
    extended.pop_back();
  }
  if (!extended.empty()) text += "\n  " + extended;
  if (!hint.empty()) text += "\n  " + hint;
  return Failure(command, text);
}

int ReportSuccess(const char* command, const std::string& headline, const Enrollment& enrollment,
                  const CertificateOutputs& outputs, const std::string& more_lines) {
  // The pair is spent and the certificate issued whatever fails from here,
  // so a failure says exactly what was delivered and where.
  const auto undelivered = [&](const std::string& what, const std::string& delivered) {
    return Failure(command, what + "\n  nevertheless " + headline +
                                ", which cannot be undone; delivered so far:\n" + delivered +
                                more_lines);
  };
  const std::string description =
      DescribeCertificate(enrollment.certificate.get(), enrollment.length);
  if (description.empty()) {
    return undelivered("the toolkit reported success but returned no certificate", "");
  }
  std::string written;
  std::string error;
  if (!outputs.certificate.empty()) {
    if (!WriteCertificate(outputs.certificate, enrollment.certificate.get(), enrollment.length,
                          outputs.format, &error)) {
      return undelivered(error, description);
    }
    written += "  certificate: " + outputs.certificate + "\n";
  }
  if (!outputs.ca_certificate.empty()) {
    if (!WriteCertificate(outputs.ca_certificate, enrollment.ca_certificate.get(),
                          enrollment.ca_length, outputs.format, &error)) {
      return undelivered(error, description + written);
    }
    written += "  CA certificate: " + outputs.ca_certificate + "\n";
  }
  // A certificate on standard output is kept apart from the report.
  std::FILE* report =
      GoesToStandardOutput(outputs.certificate) || GoesToStandardOutput(outputs.ca_certificate)
          ? stderr
          : stdout;
  std::fprintf(report, "%s\n%s%s%s", headline.c_str(), description.c_str(), written.c_str(),
               more_lines.c_str());
  return kExitOk;
}

}  // namespace veskar_cli
