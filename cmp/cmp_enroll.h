#ifndef VESKAR_CMP_CMP_ENROLL_H_
#define VESKAR_CMP_CMP_ENROLL_H_

#include <functional>
#include <string>

#include "pki/openssl_util.h"

namespace veskar::cmp {

using pki::Bytes;

// Settings of the client side that have no place in the client INI file,
// from the environment (each in whole seconds, or a path):
//   VESKAR_CMP_MSG_TIMEOUT    one message round trip, default 30, at most 3600
//   VESKAR_CMP_TOTAL_TIMEOUT  a whole enrollment, default 120, at most 3600
//   VESKAR_CMP_TLS_CA_FILE    CA certificates (PEM) that https:// servers are
//                             verified against instead of the system's store
struct ClientOptions {
  int message_timeout = 30;
  int total_timeout = 120;
  std::string tls_ca_file;

  static ClientOptions FromEnvironment();
};

// One enrollment at the CA named by a client INI file's manager location:
// an http:// or https:// URL of a CMP server, or the folder of a local CA,
// which then answers the same messages in this process.
struct Enrollment {
  std::string location;
  std::string reference_number;       // sender key identifier of the MAC
  const std::string* code = nullptr;  // the MAC's shared secret
  // Exactly one of: a PKCS #10 request (sent as p10cr), or a new key pair
  // whose public key is certified (ir, proof of possession by signature).
  X509_REQ* pkcs10 = nullptr;
  EVP_PKEY* new_key = nullptr;
  // Called with the certificate and the CA certificate before the
  // certificate is confirmed. Returning false rejects it, with *why: the CA
  // then leaves the pair unused.
  std::function<bool(X509* certificate, X509* ca_certificate, std::string* why)> accept;
  ClientOptions options = ClientOptions::FromEnvironment();
};

enum class EnrollError {
  kNone,
  kBadLocation,      // neither a URL nor a CA folder
  kUnreachable,      // no answer: connection, HTTP error, time-out
  kRefused,          // the CA answered with a rejection or an error
  kBadResponse,      // an answer that is not acceptable CMP
  kRejectedLocally,  // `accept` turned the certificate down
  kInternal,
};

struct EnrollResult {
  EnrollError error = EnrollError::kNone;
  std::string reason;         // for a person
  int failure_bits = 0;       // the CA's PKIFailureInfo bits when it refused
  pki::Bytes certificate;     // DER, on success
  pki::Bytes ca_certificate;  // DER, on success

  bool ok() const { return error == EnrollError::kNone; }
  bool Failed(int bit) const { return (failure_bits & (1 << bit)) != 0; }
};

EnrollResult Enroll(const Enrollment& enrollment);

// Why an enrollment failed, as far as a toolkit tells causes apart: the
// CA's failure bits for a refusal, the way it failed otherwise.
enum class FailureCause {
  kNone,
  kUnknownReference,  // signerNotTrusted: the CA knows no such reference number
  kCodeMismatch,      // badMessageCheck: the MAC does not verify
  kAlreadyUsed,       // duplicateCertReq
  kKeyRejected,       // badCertTemplate
  kBadProof,          // badPOP: the request's signature
  kUnavailable,       // systemUnavail, no answer, or no CA at the location
  kRejectedLocally,   // the `accept` step failed
  kFailed,            // anything else
};
FailureCause CauseOf(const EnrollResult& result);

// True when `location` names a CMP server rather than a folder.
bool IsServerUrl(const std::string& location);

}  // namespace veskar::cmp

#endif  // VESKAR_CMP_CMP_ENROLL_H_
