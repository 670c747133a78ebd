#ifndef VESKAR_TOOLS_VESKAR_ENROLL_H_
#define VESKAR_TOOLS_VESKAR_ENROLL_H_

#include <veskar/agent.h>

#include <exception>
#include <memory>
#include <string>

#include "command.h"
#include "options.h"
#include "x509_output.h"

namespace veskar_cli {

int RunEnrollCms(const Args& args);
int RunEnrollIpsec(const Args& args);
extern const char kEnrollCmsUsage[];
extern const char kEnrollIpsecUsage[];

// Where the certificates of an enrollment go: --cert, --ca-cert, --format.
struct CertificateOutputs {
  std::string certificate;     // "" for none
  std::string ca_certificate;  // "" for none
  CertFormat format = CertFormat::kPem;
};

// The options every enrollment takes besides its own.
constexpr OptionSpec kCaOption{"--ca", true};
constexpr OptionSpec kDirectoryOption{"--directory", true};
constexpr OptionSpec kReferenceOption{"--reference", true};
constexpr OptionSpec kCodeOption{"--code", true};
// The authorisation code from a file, kept out of the process list.
constexpr OptionSpec kCodeFileOption{"--code-file", true};
constexpr OptionSpec kCertOption{"--cert", true};
constexpr OptionSpec kCaCertOption{"--ca-cert", true};
constexpr OptionSpec kFormatOption{"--format", true};
constexpr OptionSpec kProtectedCopyOption{"--protected-copy", true};

// Reads --cert, --ca-cert and --format into *outputs. False on bad usage,
// with *error.
bool ReadOutputOptions(const Options& options, CertificateOutputs* outputs, std::string* error);

// Which of --code and --code-file was given: "" for neither, "both" for
// both (a usage error), else the option's name.
std::string CodeOptionGiven(const Options& options);

// The authorisation code: the value of --code (with a warning on standard
// error that others can see it), or the first line of the --code-file
// file. Fails with *error when the file cannot be read.
bool ReadCode(const char* command, const Options& options, std::string* code, std::string* error);

// The CA or directory location to hand the toolkit: a folder that exists is
// made absolute (the toolkit may resolve it from elsewhere); anything else,
// such as a server name for a real toolkit, is passed on as given.
std::string ToolkitLocation(const std::string& value);

// After a successful CMS enrollment made with `temp` as the temporary
// folder: moves this run's protected-data copy to `chosen` (when not empty)
// or into the temporary folder the run started with, and returns where it
// went ("" when the library left none). When `chosen` cannot be written,
// the copy still goes to the temporary folder and *error says why.
class PrivateTempFolder;
std::string KeepProtectedCopy(const PrivateTempFolder& temp, const std::string& chosen,
                              std::string* error);

// Why the stand-ins' CA in `ca_folder` refuses the pair (reference,
// code): not registered, a code that does not match, or already used; ""
// when the register does not say.
std::string RefusalReason(const std::string& ca_folder, const std::string& reference,
                          const std::string& code);

// For a failure to write the library's temporary files: which folder, and
// why it cannot be written when that can be found.
std::string TempFilesHint(const PrivateTempFolder& temp);

// The checks an enrollment makes before it calls the library, each with a
// clear failure instead of the bare message number a toolkit would give:
// the toolkit of `service_bit` loaded, the CA folder (when given) and the
// directory folder (when given) exist, and the output files can be written.
// Returns kExitOk, or kExitFailure after saying what is wrong.
int CheckBeforeEnrolling(const char* command, int service_bit, const std::string& ca_folder,
                         const std::string& directory_folder, const CertificateOutputs& outputs);

// Owns the buffers an agent hands out (new[], released with delete[]).
using AgentBuffer = std::unique_ptr<unsigned char[]>;

// What one call of an agent's CreateUserCertificate came to.
struct Enrollment {
  int message = 0;        // 0 for success
  std::string exception;  // what the library threw, when it threw
  AgentBuffer certificate;
  unsigned int length = 0;
  AgentBuffer ca_certificate;  // taken from the record
  unsigned int ca_length = 0;
};

// Has `agent` enroll the user of `record` (a CMS or IPSec user record) and
// takes over the buffers handed out.
template <typename Record>
Enrollment Enroll(CQnPkiMsgAgent& agent, Record& record) {
  Enrollment result;
  unsigned char* certificate = nullptr;
  try {
    result.message = agent.CreateUserCertificate(&certificate, result.length, &record);
  } catch (const std::exception& thrown) {
    result.exception = thrown.what();
  }
  result.certificate.reset(certificate);
  result.ca_certificate.reset(record.GetRawCACertificate(result.ca_length));
  return result;
}

// After a failed enrollment: "failed with message N: TEXT", then the
// agent's extended error and `hint` on lines of their own when not empty;
// or what the library threw. Returns kExitFailure.
int ReportFailure(const char* command, const Enrollment& enrollment, CQnPkiMsgAgent& agent,
                  const std::string& hint);

// After a successful enrollment: writes the certificates, then prints
// `headline`, what the certificate says, where it went and `more_lines`
// (each "  <what>: <value>\n"). Returns kExitOk, or
// kExitFailure when a certificate is missing or cannot be written.
int ReportSuccess(const char* command, const std::string& headline, const Enrollment& enrollment,
                  const CertificateOutputs& outputs, const std::string& more_lines);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_ENROLL_H_
