#ifndef VESKAR_PKI_OPENSSL_UTIL_H_
#define VESKAR_PKI_OPENSSL_UTIL_H_

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace veskar::pki {

using Bytes = std::vector<unsigned char>;

template <typename T, void (*Free)(T*)>
struct OpensslDeleter {
  void operator()(T* p) const { Free(p); }
};

using X509Ptr = std::unique_ptr<X509, OpensslDeleter<X509, X509_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, OpensslDeleter<X509_REQ, X509_REQ_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OpensslDeleter<X509_NAME, X509_NAME_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpensslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using EvpCipherPtr = std::unique_ptr<EVP_CIPHER, OpensslDeleter<EVP_CIPHER, EVP_CIPHER_free>>;
using EvpCipherCtxPtr =
    std::unique_ptr<EVP_CIPHER_CTX, OpensslDeleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpensslDeleter<PKCS12, PKCS12_free>>;
using LibCtxPtr = std::unique_ptr<OSSL_LIB_CTX, OpensslDeleter<OSSL_LIB_CTX, OSSL_LIB_CTX_free>>;

struct X509StackDeleter {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;

struct BioDeleter {
  void operator()(BIO* p) const { BIO_free_all(p); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

// The oldest queued OpenSSL error as text ("" when none), and clears the
// queue so that a later failure does not report a stale error.
std::string TakeOpensslError();

// A library context of the caller's own, for work done in a process that is
// not ours: it reads no configuration file and has the built-in providers
// only, so neither a file planted where OpenSSL looks for one nor what the
// process did to its default context (providers, property defaults)
// reaches it. Objects made in it must go before it does. Null on failure.
LibCtxPtr NewPrivateContext();

// Fresh key pairs for the CA and for users: EC P-256 (fast to make, small
// certificates, accepted everywhere), made in `libctx` (null: the default
// context). Null on failure.
EvpPkeyPtr NewEcKey(OSSL_LIB_CTX* libctx = nullptr);

// The DER encoding of `object` by OpenSSL's i2d function `encode`; empty
// when `object` is null or cannot be encoded.
template <typename T>
Bytes Encoded(const T* object, int (*encode)(const T*, unsigned char**)) {
  unsigned char* der = nullptr;
  const int length = object == nullptr ? -1 : encode(object, &der);
  if (length <= 0) return {};
  Bytes out(der, der + length);
  OPENSSL_free(der);
  return out;
}

// DER or PEM encodings. An empty result means the object could not be
// encoded.
Bytes CertificateToDer(X509* certificate);
std::string CertificateToPem(X509* certificate);

// Reads a certificate, or a PKCS #10 request, given in DER or PEM (told
// apart by the PEM header), into `libctx` (null: the default context), which
// its signature checks then use. Null when the bytes hold no such object.
X509Ptr CertificateFromBytes(const unsigned char* data, size_t size,
                             OSSL_LIB_CTX* libctx = nullptr);
X509ReqPtr RequestFromBytes(const unsigned char* data, size_t size, OSSL_LIB_CTX* libctx = nullptr);

// Serial number as upper-case hexadecimal, e.g. "1A2B".
std::string SerialText(X509* certificate);

// Validity end as "YYYY-MM-DD HH:MM:SS UTC".
std::string TimeText(const ASN1_TIME* time);

// Overwrites a secret before its storage is released.
void Cleanse(std::string* secret);
void Cleanse(Bytes* secret);

// The toolkit's own copy of a secret (a password, an authorisation code,
// a protection string), overwritten when it goes. Neither copied nor moved,
// so no copy escapes the wiping; hand out str() by reference.
class Secret {
 public:
  explicit Secret(std::string_view text) : text_(text) {}
  ~Secret() { Cleanse(&text_); }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;

  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

}  // namespace veskar::pki

#endif  // VESKAR_PKI_OPENSSL_UTIL_H_
