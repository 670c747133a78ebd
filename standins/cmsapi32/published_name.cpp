#include "standins/cmsapi32/published_name.h"

#include <openssl/x509v3.h>

#include <cstdio>

#include "pki/distinguished_name.h"

namespace veskar::cmsapi {
namespace {

// How much of the issuer's key identifier a published file's name carries.
constexpr size_t kPublishedIssuerBytes = 8;

std::string UpperHex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0f];
  }
  return text;
}

}  // namespace

std::string PublishedFileName(X509* certificate) {
  std::string issuer;
  const ASN1_OCTET_STRING* key_id = X509_get0_authority_key_id(certificate);
  if (key_id != nullptr && ASN1_STRING_length(key_id) > 0) {
    const size_t size = static_cast<size_t>(ASN1_STRING_length(key_id));
    issuer = UpperHex(ASN1_STRING_get0_data(key_id),
                      size < kPublishedIssuerBytes ? size : kPublishedIssuerBytes);
  } else {
    char hash[9];
    std::snprintf(hash, sizeof(hash), "%08lX",
                  X509_NAME_hash_ex(X509_get_issuer_name(certificate), nullptr, nullptr, nullptr) &
                      0xffffffffUL);
    issuer = hash;
  }
  return issuer + "-" + pki::SerialText(certificate) + ".der";
}

}  // namespace veskar::cmsapi
