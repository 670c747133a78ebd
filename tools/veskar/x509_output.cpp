// Requests, keys and certificates for the enroll command, through libcrypto
// and the helpers the stand-in toolkits use.

#include "x509_output.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cctype>

#include "output_file.h"
#include "pki/distinguished_name.h"

namespace veskar_cli {
namespace {

namespace pki = veskar::pki;

constexpr size_t kMaxRequestFile = 64 * 1024;

std::string CryptoError() {
  const std::string error = pki::TakeOpensslError();
  return error.empty() ? "libcrypto failed" : error;
}

bool RequestDer(X509_REQ* request, Bytes* der) {
  unsigned char* encoded = nullptr;
  const int length = i2d_X509_REQ(request, &encoded);
  if (length <= 0) return false;
  der->assign(encoded, encoded + length);
  OPENSSL_free(encoded);
  return true;
}

}  // namespace

bool ParseCertFormat(const std::string& text, CertFormat* format) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "pem") {
    *format = CertFormat::kPem;
  } else if (lower == "der") {
    *format = CertFormat::kDer;
  } else {
    return false;
  }
  return true;
}

bool ReadRequest(const std::string& path, Bytes* der, std::string* error) {
  Bytes content;
  if (!pki::ReadWholeFile(path, kMaxRequestFile, &content, error)) return false;
  pki::X509ReqPtr request = pki::RequestFromBytes(content.data(), content.size());
  pki::TakeOpensslError();
  if (!request || !RequestDer(request.get(), der)) {
    *error = path + " holds no PKCS #10 request (PEM or DER)";
    return false;
  }
  return true;
}

bool NewKeyAndRequest(const std::string& key_path, const std::string& common_name, Bytes* der,
                      std::string* error) {
  pki::EvpPkeyPtr key = pki::NewEcKey();
  pki::X509ReqPtr request(X509_REQ_new());
  X509_NAME* name = request ? X509_REQ_get_subject_name(request.get()) : nullptr;
  const bool made =
      key && name != nullptr && X509_REQ_set_version(request.get(), X509_REQ_VERSION_1) == 1 &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(common_name.c_str()), -1,
                                 -1, 0) == 1 &&
      X509_REQ_set_pubkey(request.get(), key.get()) == 1 &&
      X509_REQ_sign(request.get(), key.get(), EVP_sha256()) > 0 && RequestDer(request.get(), der);
  if (!made) {
    *error = "cannot make a key and request: " + CryptoError();
    return false;
  }
  // The key's PEM text lives in secure memory, wiped when the BIO goes.
  pki::BioPtr pem(BIO_new(BIO_s_secmem()));
  if (!pem ||
      PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    *error = "cannot encode the new key: " + CryptoError();
    return false;
  }
  char* text = nullptr;
  const long text_length = BIO_get_mem_data(pem.get(), &text);
  return WriteOutput(key_path, text, static_cast<size_t>(text_length > 0 ? text_length : 0),
                     OutputKind::kNewKey, error);
}

bool WriteCertificate(const std::string& path, const unsigned char* der, size_t size,
                      CertFormat format, std::string* error) {
  pki::X509Ptr certificate = pki::CertificateFromBytes(der, size);
  if (!certificate) {
    *error = "the certificate for " + path + " is not a certificate";
    return false;
  }
  std::string text;
  if (format == CertFormat::kPem) {
    text = pki::CertificateToPem(certificate.get());
  } else {
    const Bytes encoded = pki::CertificateToDer(certificate.get());
    text.assign(encoded.begin(), encoded.end());
  }
  if (text.empty()) {
    *error = "cannot encode the certificate for " + path + ": " + CryptoError();
    return false;
  }
  return WriteOutput(path, text.data(), text.size(), OutputKind::kCertificate, error);
}

std::string DescribeCertificate(const unsigned char* der, size_t size) {
  pki::X509Ptr certificate = pki::CertificateFromBytes(der, size);
  if (!certificate) return "";
  X509* c = certificate.get();
  return "  subject: " + pki::NameText(X509_get_subject_name(c)) +
         "\n  issuer: " + pki::NameText(X509_get_issuer_name(c)) +
         "\n  serial: " + pki::SerialText(c) +
         "\n  valid from: " + pki::TimeText(X509_get0_notBefore(c)) +
         "\n  valid until: " + pki::TimeText(X509_get0_notAfter(c)) + "\n";
}

}  // namespace veskar_cli
