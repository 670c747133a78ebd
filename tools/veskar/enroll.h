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

// What libcrypto says went wrong, never "".
inline std::string CryptoError() {
  const std::string error = veskar::pki::TakeOpensslError();
  return error.empty() ? "libcrypto failed" : error;
}

// One kind of enrollment (CMS, IPSec): what it adds to the steps all
// enrollments share, which RunEnrollment takes in order.
class EnrollmentKind {
 public:
  struct Traits {
    const char* command;  // "enroll cms"
    int service;          // its bit in the service mask
    const char* toolkit;  // "CMS", for people
    int ini_failed;       // the message for an INI file it could not write
    bool pair_optional;   // without reference and code it logs in
  };
  explicit EnrollmentKind(const Traits& traits) : traits_(traits) {}
  virtual ~EnrollmentKind() = default;
  const Traits& traits() const { return traits_; }

  // After the shared usage checks, its own: "" or what is wrong.
  virtual std::string UsageProblem(const Options& options, const EnrollmentInput& input) = 0;
  // After the shared checks: its own, and what it reads, before anything
  // is spent. kExitOk, or the status after saying what is wrong.
  virtual int Prepare(const Options& options) = 0;
  // After the pair was read: secrets of its own. False with *error.
  virtual bool ReadSecrets(std::string* /*error*/) { return true; }
  // With the ending signals held and a private temporary folder: calls the
  // library. False with *error when it could not get that far.
  virtual bool Run(const EnrollmentInput& input, Enrollment* result, std::string* error) = 0;
  // After a failure: the likely cause of `message` ("" when unknown), and
  // undoing what Run made.
  virtual std::string Hint(int message, const EnrollmentInput& input) = 0;
  virtual void Undo() {}
  // After a success: the report's first line, and its own lines ("  <what>:
  // <value>\n"); *error when something of its own went astray.
  virtual std::string Headline() const = 0;
  virtual std::string Delivered(const PrivateTempFolder& temp, std::string* error) = 0;

 private:
  Traits traits_;
};

// Runs an enrollment of `kind` with `options`: the usage checks, the checks
// made before the library is called (each with a clear failure instead of
// the bare message number a toolkit would give), reading the pair, the
// call with the ending signals held, and the report. Returns the exit
// status.
int RunEnrollment(const Options& options, EnrollmentKind& kind);

// The CA location `ca`, when it names a folder, must hold a CA of the
// stand-ins; a server's URL is for the toolkit to reach. kExitOk, or
// kExitFailure after saying what is wrong.
int CheckCaLocation(const char* command, const std::string& ca);

// Why the stand-ins' CA in `ca_folder` refuses the pair (reference,
// code): not registered, a code that does not match, or already used; ""
// when the register does not say.
std::string RefusalReason(const std::string& ca_folder, const std::string& reference,
                          const std::string& code);

extern const Verb kEnrollCmsVerb;
extern const Verb kEnrollIpsecVerb;

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_ENROLL_H_
