#ifndef VESKAR_CMP_CMP_ENROLL_H_
#define VESKAR_CMP_CMP_ENROLL_H_

#include <functional>
#include <string>

#include "pki/openssl_util.h"
#include "pki/outcome.h"

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

struct EnrollResult {
  pki::Outcome outcome = pki::Outcome::kOk;
  std::string reason;         // for a person
  pki::Bytes certificate;     // DER, on success
  pki::Bytes ca_certificate;  // DER, on success

  bool ok() const { return outcome == pki::Outcome::kOk; }
};

EnrollResult Enroll(const Enrollment& enrollment);

// True when `location` names a CMP server rather than a folder.
bool IsServerUrl(const std::string& location);

}  // namespace veskar::cmp

#endif  // VESKAR_CMP_CMP_ENROLL_H_
