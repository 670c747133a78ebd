#include "ca/request_policy.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <initializer_list>

namespace veskar::ca {
namespace {

using pki::Outcome;

bool IsOneOf(int nid, std::initializer_list<int> allowed) {
  for (const int one : allowed) {
    if (nid == one) return true;
  }
  return false;
}

std::string NameOf(int nid) {
  const char* name = nid == NID_undef ? nullptr : OBJ_nid2sn(nid);
  return name != nullptr ? name : "an unknown algorithm";
}

}  // namespace

bool MacAcceptable(const MacParameters& protection, std::string* why) {
  if (protection.algorithm != NID_id_PasswordBasedMAC) {
    *why = "the request must be protected with a password-based MAC, not " +
           NameOf(protection.algorithm);
    return false;
  }
  if (!IsOneOf(protection.owf, {NID_sha1, NID_sha224, NID_sha256, NID_sha384, NID_sha512,
                                NID_sha512_224, NID_sha512_256})) {
    *why = "the MAC's one-way function must be SHA-1 or of the SHA-2 family, not " +
           NameOf(protection.owf);
    return false;
  }
  if (!IsOneOf(protection.mac, {NID_hmac_sha1, NID_hmacWithSHA1, NID_hmacWithSHA224,
                                NID_hmacWithSHA256, NID_hmacWithSHA384, NID_hmacWithSHA512})) {
    *why = "the MAC must be HMAC with SHA-1 or of the SHA-2 family, not " + NameOf(protection.mac);
    return false;
  }
  if (protection.iterations < 1 || protection.iterations > kMostMacIterations) {
    *why = "the MAC's iteration count must be 1 to " + std::to_string(kMostMacIterations);
    return false;
  }
  if (protection.salt_length < 0 || protection.salt_length > kMostMacSalt) {
    *why = "the MAC's salt must be at most " + std::to_string(kMostMacSalt) + " bytes";
    return false;
  }
  return true;
}

CaStatus CheckKeyBounds(EVP_PKEY* key) {
  const char* type = EVP_PKEY_get0_type_name(key);
  const std::string kind = type != nullptr ? type : "unknown";
  const bool rsa = EVP_PKEY_is_a(key, "RSA") || EVP_PKEY_is_a(key, "RSA-PSS");
  if (rsa || EVP_PKEY_is_a(key, "DSA")) {
    const int bits = EVP_PKEY_get_bits(key);
    if (bits > kMostKeyBits) {
      return Fail(Outcome::kKeyRejected, "the request's " + kind + " key of " +
                                             std::to_string(bits) + " bits is too long (" +
                                             std::to_string(kMostKeyBits) + " bits at most)");
    }
  }
  if (rsa) {
    BIGNUM* exponent = nullptr;
    const bool read = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent) == 1;
    const bool sane = read && BN_is_odd(exponent) && !BN_is_one(exponent) &&
                      BN_num_bits(exponent) <= kMostExponentBits;
    BN_free(exponent);
    if (!sane) {
      return Fail(Outcome::kKeyRejected,
                  "the request's RSA public exponent must be odd, above 1 and below 2^" +
                      std::to_string(kMostExponentBits));
    }
  }
  if (EVP_PKEY_is_a(key, "EC")) {
    char name[80];
    size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof(name),
                                       &length) != 1 ||
        OBJ_sn2nid(name) == NID_undef) {
      ERR_clear_error();
      return Fail(Outcome::kKeyRejected,
                  "the request's elliptic curve key must name its curve (explicit parameters "
                  "are not accepted)");
    }
  }
  return CaStatus::Ok();
}

}  // namespace veskar::ca
