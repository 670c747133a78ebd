#ifndef VESKAR_CMP_CMP_ENROLL_H_
#define VESKAR_CMP_CMP_ENROLL_H_

#include <functional>
#include <string>

#include "pki/openssl_util.h"
#include "pki/outcome.h"

namespace veskar::cmp {

using pki::Bytes;

// Settings of the client side that have no place in the client INI file
// (the stand-ins take them from the environment, see standins/common).
struct ClientOptions {
  int message_timeout = 30;  // seconds for one message round trip
  int total_timeout = 120;   // seconds for a whole enrollment
  std::string tls_ca_file;   // CA certificates (PEM) that https:// servers are
                             // verified against instead of the system's store
  std::string proxy;         // http://host:port of an HTTP proxy; "" for none
};

// How the client's messages reach the CA: an http:// or https:// URL of a
// CMP server, or else a function that answers each DER-encoded message in
// this process (an empty answer: none).
struct Transport {
  std::string url;
  std::function<pki::Bytes(const pki::Bytes& request)> answer;
  std::string name;  // the CA's location as the user gave it, for messages
};

// One enrollment at the CA that `transport` reaches.
struct Enrollment {
  // The library context all of the enrollment's OpenSSL work is done in,
  // the caller's own (pki::NewPrivateContext): the request and the new key
  // are made in it, and it outlives what the enrollment hands back.
  OSSL_LIB_CTX* libctx = nullptr;
  Transport transport;
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
  ClientOptions options;
};

struct EnrollResult {
  pki::Outcome outcome = pki::Outcome::kOk;
  std::string reason;         // for a person
  pki::Bytes certificate;     // DER, on success
  pki::Bytes ca_certificate;  // DER, on success

  bool ok() const { return outcome == pki::Outcome::kOk; }
};

EnrollResult Enroll(const Enrollment& enrollment);

}  // namespace veskar::cmp

#endif  // VESKAR_CMP_CMP_ENROLL_H_
