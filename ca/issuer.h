#ifndef VESKAR_CA_ISSUER_H_
#define VESKAR_CA_ISSUER_H_

#include <functional>
#include <string>

#include "ca/ca_status.h"
#include "pki/openssl_util.h"

namespace veskar::ca {

// The CA's key and certificate, and the certificates made with them: the
// CA's own, and users' ones for keys this CA accepts, with serial numbers
// it has not given before. Serial numbers are random 63-bit numbers, so
// that certificates of different CAs do not share one by chance. Only
// memory: the files are the CA folder's.
class Issuer {
 public:
  static constexpr int kUserDays = 365;

  // A new CA: a fresh key pair and a self-signed certificate for `name`,
  // valid `days` days, as PEM texts.
  static CaStatus NewCa(const X509_NAME* name, int days, std::string* key_pem,
                        std::string* certificate_pem);

  // Takes the CA certificate, then its key, as read from the files named
  // in the messages. The key's bytes are wiped.
  CaStatus SetCertificate(const pki::Bytes& pem, const std::string& path);
  CaStatus SetKey(pki::Bytes* pem, const std::string& path, const std::string& certificate_path);

  // Whether a serial (hex, as pki::SerialText) was given before.
  using SerialTaken = std::function<CaStatus(const std::string& serial, bool* taken)>;

  // Certifies `public_key` for `subject` (pki::NameText form) with a serial
  // that neither the CA certificate nor any certificate `taken` knows has. Refuses when
  // the CA certificate has expired, and keys too weak or of a kind this CA
  // does not judge. The validity ends with the CA certificate's when that
  // comes first.
  CaStatus Certify(const std::string& subject, EVP_PKEY* public_key, const SerialTaken& taken,
                   IssuedCertificate* made) const;

  X509* certificate() const { return certificate_.get(); }
  const pki::Bytes& certificate_der() const { return certificate_der_; }

 private:
  pki::X509Ptr certificate_;
  pki::Bytes certificate_der_;
  pki::EvpPkeyPtr key_;
};

}  // namespace veskar::ca

#endif  // VESKAR_CA_ISSUER_H_
