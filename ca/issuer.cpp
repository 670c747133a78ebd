#include "ca/issuer.h"

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <memory>
#include <utility>

#include "pki/distinguished_name.h"

namespace veskar::ca {
namespace {

using pki::Outcome;

// Serial numbers are drawn at random with this many bits: positive, at most
// eight bytes in DER, and too many to collide by chance, across CAs too.
constexpr int kSerialBits = 63;

struct BnDeleter {
  void operator()(BIGNUM* p) const { BN_free(p); }
};
using BignumPtr = std::unique_ptr<BIGNUM, BnDeleter>;

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) return false;
  const bool ok = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return ok;
}

// Fills in everything both kinds of certificate share: version, serial,
// names, validity from now, key, key identifiers.
bool StartCertificate(X509* certificate, const BIGNUM* serial, const X509_NAME* subject,
                      const X509_NAME* issuer, int days, EVP_PKEY* public_key) {
  ASN1_INTEGER* number = BN_to_ASN1_INTEGER(serial, nullptr);
  const bool ok = number != nullptr && X509_set_version(certificate, X509_VERSION_3) == 1 &&
                  X509_set_serialNumber(certificate, number) == 1 &&
                  X509_set_subject_name(certificate, subject) == 1 &&
                  X509_set_issuer_name(certificate, issuer) == 1 &&
                  X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
                  X509_time_adj_ex(X509_getm_notAfter(certificate), days, 0, nullptr) != nullptr &&
                  X509_set_pubkey(certificate, public_key) == 1;
  ASN1_INTEGER_free(number);
  return ok;
}

// A fresh random serial number (never zero).
bool RandomSerial(BIGNUM* serial) {
  do {
    if (BN_rand(serial, kSerialBits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1) return false;
  } while (BN_is_zero(serial));
  return true;
}

// A serial number this CA has not given yet: none in the register, nor the
// CA certificate's own (it names the same issuer).
CaStatus NewSerial(X509* ca_certificate, const Issuer::SerialTaken& taken, BignumPtr* serial) {
  BignumPtr own(ASN1_INTEGER_to_BN(X509_get0_serialNumber(ca_certificate), nullptr));
  if (!own) return CryptoFailure("cannot read the CA's serial number");
  BignumPtr candidate(BN_new());
  for (;;) {
    if (!candidate || !RandomSerial(candidate.get())) {
      return CryptoFailure("cannot draw a serial number");
    }
    if (BN_cmp(own.get(), candidate.get()) == 0) continue;
    char* hex = BN_bn2hex(candidate.get());
    if (hex == nullptr) return CryptoFailure("cannot draw a serial number");
    const std::string text(hex);
    OPENSSL_free(hex);
    bool in_use = false;
    const CaStatus status = taken(text, &in_use);
    if (!status.ok()) return status;
    if (!in_use) break;
  }
  *serial = std::move(candidate);
  return CaStatus::Ok();
}

std::string PrivateKeyPem(EVP_PKEY* key) {
  pki::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return "";
  }
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

pki::EvpPkeyPtr PrivateKeyFromPem(const pki::Bytes& pem) {
  pki::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return pki::EvpPkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                             : nullptr);
}

// Refuses keys too weak to certify, and kinds of key whose strength this
// CA does not judge.
CaStatus CheckPublicKey(EVP_PKEY* key, EVP_PKEY* ca_key) {
  const std::string kind = EVP_PKEY_get0_type_name(key) ? EVP_PKEY_get0_type_name(key) : "unknown";
  int least_bits = 0;
  if (EVP_PKEY_is_a(key, "RSA") || EVP_PKEY_is_a(key, "RSA-PSS") || EVP_PKEY_is_a(key, "DSA")) {
    least_bits = 2048;
  } else if (EVP_PKEY_is_a(key, "EC")) {
    least_bits = 256;
  } else if (!EVP_PKEY_is_a(key, "ED25519") && !EVP_PKEY_is_a(key, "ED448")) {
    return Fail(Outcome::kKeyRejected,
                "the request's " + kind + " key is of a kind this CA does not certify");
  }
  const int bits = EVP_PKEY_get_bits(key);
  if (bits < least_bits) {
    return Fail(Outcome::kKeyRejected, "the request's " + kind + " key of " + std::to_string(bits) +
                                           " bits is too short (" + std::to_string(least_bits) +
                                           " bits at least)");
  }
  if (EVP_PKEY_eq(key, ca_key) == 1) {
    return Fail(Outcome::kKeyRejected, "the request carries the CA's own key");
  }
  return CaStatus::Ok();
}

// The certificate of a user, signed by the CA.
CaStatus MakeCertificate(X509* ca_certificate, EVP_PKEY* ca_key, const std::string& subject,
                         const BIGNUM* serial, EVP_PKEY* public_key, IssuedCertificate* issued) {
  std::string error;
  pki::X509NamePtr name = pki::ParseName(subject, &error);
  if (!name) return Fail(Outcome::kStorage, "the register's name '" + subject + "': " + error);
  pki::X509Ptr certificate(X509_new());
  if (!certificate ||
      !StartCertificate(certificate.get(), serial, name.get(),
                        X509_get_subject_name(ca_certificate), Issuer::kUserDays, public_key)) {
    return CryptoFailure("cannot make the certificate");
  }
  const ASN1_TIME* ca_end = X509_get0_notAfter(ca_certificate);
  issued->validity_shortened = ASN1_TIME_compare(X509_get0_notAfter(certificate.get()), ca_end) > 0;
  if (issued->validity_shortened && X509_set1_notAfter(certificate.get(), ca_end) != 1) {
    return CryptoFailure("cannot limit the certificate's validity");
  }
  if (!AddExtension(certificate.get(), ca_certificate, NID_basic_constraints,
                    "critical,CA:FALSE") ||
      !AddExtension(certificate.get(), ca_certificate, NID_key_usage,
                    "critical,digitalSignature,nonRepudiation") ||
      !AddExtension(certificate.get(), ca_certificate, NID_subject_key_identifier, "hash") ||
      !AddExtension(certificate.get(), ca_certificate, NID_authority_key_identifier,
                    "keyid:always") ||
      X509_sign(certificate.get(), ca_key, EVP_sha256()) <= 0) {
    return CryptoFailure("cannot make the certificate");
  }
  issued->der = pki::CertificateToDer(certificate.get());
  if (issued->der.empty()) return CryptoFailure("cannot encode the certificate");
  issued->certificate = std::move(certificate);
  return CaStatus::Ok();
}

}  // namespace

CaStatus CryptoFailure(const std::string& what) {
  const std::string why = pki::TakeOpensslError();
  return Fail(Outcome::kCrypto, what + (why.empty() ? "" : ": " + why));
}

CaStatus Issuer::NewCa(const X509_NAME* name, int days, std::string* key_pem,
                       std::string* certificate_pem) {
  pki::EvpPkeyPtr key = pki::NewEcKey();
  pki::X509Ptr certificate(X509_new());
  BignumPtr serial(BN_new());
  // A random serial keeps two throw-away CAs of the same name apart.
  if (!key || !certificate || !serial || !RandomSerial(serial.get()) ||
      !StartCertificate(certificate.get(), serial.get(), name, name, days, key.get()) ||
      !AddExtension(certificate.get(), certificate.get(), NID_subject_key_identifier, "hash") ||
      !AddExtension(certificate.get(), certificate.get(), NID_authority_key_identifier,
                    "keyid:always") ||
      !AddExtension(certificate.get(), certificate.get(), NID_basic_constraints,
                    "critical,CA:TRUE") ||
      !AddExtension(certificate.get(), certificate.get(), NID_key_usage,
                    "critical,keyCertSign,cRLSign") ||
      X509_sign(certificate.get(), key.get(), EVP_sha256()) <= 0) {
    return CryptoFailure("cannot make the CA certificate");
  }
  *key_pem = PrivateKeyPem(key.get());
  *certificate_pem = pki::CertificateToPem(certificate.get());
  if (key_pem->empty() || certificate_pem->empty()) return CryptoFailure("cannot encode the CA");
  return CaStatus::Ok();
}

CaStatus Issuer::SetCertificate(const pki::Bytes& pem, const std::string& path) {
  certificate_ = pki::CertificateFromBytes(pem.data(), pem.size());
  if (!certificate_) {
    pki::TakeOpensslError();
    return Fail(Outcome::kNotACa, path + " holds no certificate");
  }
  certificate_der_ = pki::CertificateToDer(certificate_.get());
  return CaStatus::Ok();
}

CaStatus Issuer::SetKey(pki::Bytes* pem, const std::string& path,
                        const std::string& certificate_path) {
  key_ = PrivateKeyFromPem(*pem);
  pki::Cleanse(pem);
  if (!key_ || !certificate_ || X509_check_private_key(certificate_.get(), key_.get()) != 1) {
    pki::TakeOpensslError();
    return Fail(Outcome::kNotACa, path + " is not the key of " + certificate_path);
  }
  return CaStatus::Ok();
}

CaStatus Issuer::Certify(const std::string& subject, EVP_PKEY* public_key, const SerialTaken& taken,
                         IssuedCertificate* made) const {
  if (X509_cmp_current_time(X509_get0_notAfter(certificate_.get())) <= 0) {
    return Fail(Outcome::kCaExpired, "the CA certificate expired on " +
                                         pki::TimeText(X509_get0_notAfter(certificate_.get())));
  }
  CaStatus status = CheckPublicKey(public_key, key_.get());
  if (!status.ok()) return status;
  BignumPtr serial_number;
  status = NewSerial(certificate_.get(), taken, &serial_number);
  if (!status.ok()) return status;
  return MakeCertificate(certificate_.get(), key_.get(), subject, serial_number.get(), public_key,
                         made);
}

}  // namespace veskar::ca
