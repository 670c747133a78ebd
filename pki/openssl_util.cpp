#include "pki/openssl_util.h"

#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <ctime>
#include <limits>

namespace veskar::pki {
namespace {

// DER always starts with a SEQUENCE tag; anything else is taken for PEM,
// which may have text before its "-----BEGIN" line.
bool LooksLikePem(const unsigned char* data) { return data[0] != 0x30; }

BioPtr MemoryBio(const unsigned char* data, size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) return nullptr;
  return BioPtr(BIO_new_mem_buf(data, static_cast<int>(size)));
}

// Reads one object of a type from DER or PEM into an object made in
// `libctx`; with DER, trailing bytes mean the input was not one object.
template <typename T, typename Ptr>
Ptr ObjectFromBytes(const unsigned char* data, size_t size, OSSL_LIB_CTX* libctx,
                    T* (*make)(OSSL_LIB_CTX*, const char*),
                    T* (*read_pem)(BIO*, T**, pem_password_cb*, void*),
                    T* (*read_der)(T**, const unsigned char**, long)) {
  if (data == nullptr || size == 0) return nullptr;
  if (size > static_cast<size_t>(std::numeric_limits<long>::max())) return nullptr;
  const bool pem = LooksLikePem(data);
  BioPtr bio = pem ? MemoryBio(data, size) : nullptr;
  if (pem && !bio) return nullptr;
  // Read into an object that carries the context; a failed read frees it
  // and leaves null behind, one that finds nothing to read leaves it.
  T* object = make(libctx, nullptr);
  if (object == nullptr) return nullptr;
  const unsigned char* p = data;
  const bool read = pem ? read_pem(bio.get(), &object, nullptr, nullptr) != nullptr
                        : read_der(&object, &p, static_cast<long>(size)) != nullptr;
  Ptr owned(object);
  if (!read || (!pem && p != data + size)) return nullptr;
  return owned;
}

}  // namespace

std::string TakeOpensslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "";
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

LibCtxPtr NewPrivateContext() { return LibCtxPtr(OSSL_LIB_CTX_new()); }

EvpPkeyPtr NewEcKey(OSSL_LIB_CTX* libctx) {
  return EvpPkeyPtr(EVP_PKEY_Q_keygen(libctx, nullptr, "EC", "P-256"));
}

Bytes CertificateToDer(X509* certificate) { return Encoded(certificate, i2d_X509); }

std::string CertificateToPem(X509* certificate) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) return "";
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

X509Ptr CertificateFromBytes(const unsigned char* data, size_t size, OSSL_LIB_CTX* libctx) {
  return ObjectFromBytes<X509, X509Ptr>(data, size, libctx, X509_new_ex, PEM_read_bio_X509,
                                        d2i_X509);
}

X509ReqPtr RequestFromBytes(const unsigned char* data, size_t size, OSSL_LIB_CTX* libctx) {
  return ObjectFromBytes<X509_REQ, X509ReqPtr>(data, size, libctx, X509_REQ_new_ex,
                                               PEM_read_bio_X509_REQ, d2i_X509_REQ);
}

std::string SerialText(X509* certificate) {
  BIGNUM* number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr);
  if (number == nullptr) return "";
  char* hex = BN_bn2hex(number);
  BN_free(number);
  if (hex == nullptr) return "";
  std::string out(hex);
  OPENSSL_free(hex);
  return out;
}

std::string TimeText(const ASN1_TIME* time) {
  struct tm parts {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return "?";
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

void Cleanse(std::string* secret) {
  if (!secret->empty()) OPENSSL_cleanse(&(*secret)[0], secret->size());
  secret->clear();
}

void Cleanse(Bytes* secret) {
  if (!secret->empty()) OPENSSL_cleanse(secret->data(), secret->size());
  secret->clear();
}

}  // namespace veskar::pki
