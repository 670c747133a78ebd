#ifndef VESKAR_CA_CA_STATUS_H_
#define VESKAR_CA_CA_STATUS_H_

#include <string>
#include <utility>

#include "pki/openssl_util.h"
#include "pki/outcome.h"

namespace veskar::ca {

// What a CA operation came to; the message says what was wrong, for a
// person.
struct CaStatus {
  pki::Outcome error = pki::Outcome::kOk;
  std::string message;  // "reference number 17 already used"

  bool ok() const { return error == pki::Outcome::kOk; }
  static CaStatus Ok() { return {}; }
};

inline CaStatus Fail(pki::Outcome error, std::string message) {
  return {error, std::move(message)};
}

// A failure of OpenSSL, with the reason it queued.
CaStatus CryptoFailure(const std::string& what);

struct IssuedCertificate {
  pki::X509Ptr certificate;
  pki::Bytes der;
  bool validity_shortened = false;  // ends with the CA certificate instead of kUserDays
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_CA_STATUS_H_
