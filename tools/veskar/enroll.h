#ifndef VESKAR_TOOLS_VESKAR_ENROLL_H_
#define VESKAR_TOOLS_VESKAR_ENROLL_H_

#include <veskar/agent.h>

#include <exception>
#include <memory>
#include <string>

#include "command.h"
#include "file_io.h"

namespace veskar_cli {

// The options both enrollments take, declared once.
inline constexpr Option kCaOption = {"--ca", "DIR|URL",
                                     "the CA location: for the stand-in toolkit, a CMP\n"
                                     "server's URL (e.g. http://127.0.0.1:8080/pkix/) or the\n"
                                     "CA's folder"};
inline constexpr Option kDirectoryOption = {"--directory", "DIR", "the directory location"};
inline constexpr Option kReferenceOption = {"--reference", "N", "the reference number"};
inline constexpr Option kCodeOption = {"--code", "CODE",
                                       "the authorisation code (others see it in the process\n"
                                       "list: prefer --code-file)"};
inline constexpr Option kCodeFileOption = {"--code-file", "FILE",
                                           "the authorisation code, from the first line of FILE\n"
                                           "(keeps it out of the process list)"};
inline constexpr Option kCertOption = {"--cert", "FILE",
                                       "where the user's certificate goes ('-': standard output)"};
inline constexpr Option kCaCertOption = {"--ca-cert", "FILE", "where the CA's certificate goes"};
inline constexpr Option kFormatOption = {"--format", "pem|der", "the form of both (default pem)"};

// What every enrollment reads from its options, as the toolkit takes it.
struct EnrollmentInput {
  std::string ca;         // the CA location
  std::string directory;  // the directory location
  bool has_pair = false;  // a reference number and an authorisation code were given
  std::string reference;
  SecretText code;
  std::string certificate;     // where --cert goes, "" for none
  std::string ca_certificate;  // where --ca-cert goes, "" for none
  bool der = false;            // --format der
};

// Owns the buffers an agent hands out (new[], released with delete[]).
using AgentBuffer = std::unique_ptr<unsigned char[]>;

// What one call of an agent's CreateUserCertificate came to.
struct Enrollment {
  int message = 0;        // 0 for success
  std::string exception;  // what the library threw, when it threw
  std::string text;       // on failure, the message's text
  std::string extended;   // and the toolkit's own reason
  AgentBuffer certificate;
  unsigned int length = 0;
  AgentBuffer ca_certificate;  // taken from the record
  unsigned int ca_length = 0;

  bool failed() const { return message != 0 || !exception.empty(); }
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
  if (result.message != 0) {
    result.text = static_cast<const char*>(agent.GetErrorString());
    result.extended = static_cast<const char*>(agent.GetExtendedErrorString());
  }
  return result;
}

// The steps every enrollment takes, in this order; each kind adds its own
// checks between them. A usage problem is found before anything else, and
// every check is made before the library is called, with a clear failure
// instead of the bare message number a toolkit would give, so that a
// refusal costs no code pair.

// Reads the pair (which `pair_optional` enrollments may go without) and
// the certificate outputs: "" or the usage problem.
std::string ReadEnrollmentOptions(const Options& options, bool pair_optional,
                                  EnrollmentInput* input);

// Takes the locations and checks that the toolkit of `service` is loaded,
// that the stand-ins can use the locations, and that the outputs can be
// written. kExitOk, or kExitFailure after saying what is wrong.
int CheckBeforeEnrolling(const char* command, int service, const Options& options,
                         EnrollmentInput* input);

// Reads the reference number and the authorisation code. False with *error.
bool ReadPair(const char* command, const Options& options, EnrollmentInput* input,
              std::string* error);

// Says how the enrollment failed (the message, the toolkit's reason, and
// the likely cause: the shared ones, else `hint`) and returns kExitFailure.
// `toolkit` names it ("CMS"); `ini_failed` is its message for an INI file
// not written into `temp`.
int ReportFailure(const char* command, const char* toolkit, int ini_failed,
                  const Enrollment& enrollment, const PrivateTempFolder& temp,
                  const std::string& hint);

// Writes the certificates, then prints `headline`, what the certificate
// says, where it went and `more_lines`. A certificate missing or not
// written fails, saying that the pair is spent and what was delivered.
int ReportSuccess(const char* command, const std::string& headline, const Enrollment& enrollment,
                  const EnrollmentInput& input, const std::string& more_lines);

extern const Verb kEnrollCmsVerb;

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_ENROLL_H_
