// veskar enroll: what the CMS and IPSec enrollments share, from the checks
// made before the library is called to the report afterwards.

#include <veskar/services.h>

#include <cstdio>

#include "enroll.h"
#include "file_io.h"
#include "secret_input.h"
#include "toolkit_search.h"
#include "x509_output.h"

namespace veskar_cli {

const char kEnrollUsage[] =
    "usage: veskar enroll cms --ca DIR --reference N --code CODE ...\n"
    "       veskar enroll ipsec --ca DIR --profile FILE ...\n\n"
    "Enrolls a user for a certificate through the library, as a host does: 'cms'\n"
    "through the CMS toolkit with a PKCS #10 request, 'ipsec' through the IPSec\n"
    "toolkit into a password-protected profile. 'veskar enroll cms --help' and\n"
    "'veskar enroll ipsec --help' say more.\n";

namespace {

struct Service {
  int bit;
  const char* name;
  const char* file;
};
constexpr Service kServices[] = {{2, "IPSec key management", "libkmpapi32.so"},
                                 {4, "CMS enrollment", "libcmsapi32.so"}};

// Where the toolkit reads a location, a line break would end it early.
bool IsOneLine(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

// Checked before the library is called, so that a refusal costs no code pair.
int CheckOutputs(const char* command, const CertificateOutputs& outputs) {
  std::string error;
  for (const std::string* path : {&outputs.certificate, &outputs.ca_certificate}) {
    if (!path->empty() && (!CanCreate(*path, &error) || !MayHoldCertificate(*path, &error))) {
      return Failure(command, error);
    }
  }
  return kExitOk;
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
  for (const Service& service : kServices) {
    if (service.bit == service_bit && !(GetAvaliableServices() & service_bit)) {
      return Failure(command, std::string(service.name) + " is not available: " + service.file +
                                  " was not loaded ('veskar services' says why)");
    }
  }
  for (const std::string* folder : {&ca_folder, &directory_folder}) {
    if (!IsOneLine(*folder)) return Failure(command, "a location cannot hold a line break");
  }
  // The stand-ins take folders; another toolkit takes its own kind of
  // location, which is passed on as given.
  const char* file = service_bit == kServices[0].bit ? kServices[0].file : kServices[1].file;
  if (!StandInLoaded(file)) return CheckOutputs(command, outputs);
  if (!ca_folder.empty() && !IsDirectory(ca_folder)) {
#ifdef VESKAR_HAVE_LOCAL_CA
    return Failure(command, "there is no CA folder " + ca_folder +
                                " (make one with 'veskar ca init " + ca_folder + "')");
#else
    return Failure(command, "there is no CA folder " + ca_folder);
#endif
  }
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

bool ReadCode(const Options& options, std::string* code, std::string* error) {
  if (!options.Has(kCodeFileOption.name)) {
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
  std::printf("%s\n%s%s%s", headline.c_str(), description.c_str(), written.c_str(),
              more_lines.c_str());
  return kExitOk;
}

}  // namespace veskar_cli
