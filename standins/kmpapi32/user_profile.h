#ifndef VESKAR_STANDINS_KMPAPI32_USER_PROFILE_H_
#define VESKAR_STANDINS_KMPAPI32_USER_PROFILE_H_

#include <string>

#include "pki/openssl_util.h"

namespace veskar::kmpapi {

// A user's profile: the private key, its certificate and the CA's
// certificate, kept as a password-protected PKCS #12 file (AES-256-CBC with
// PBKDF2 for key and certificates, an HMAC-SHA-256 integrity check).
struct UserProfile {
  pki::EvpPkeyPtr key;
  pki::X509Ptr certificate;
  pki::X509Ptr ca_certificate;
};

// Encodes a profile as PKCS #12 DER, with the algorithms of `libctx`.
// Empty on failure.
pki::Bytes EncodeProfile(const UserProfile& profile, const std::string& password,
                         OSSL_LIB_CTX* libctx);

// Reads the profile at `path` into objects of `libctx`, which must outlive
// them. Returns kKmpOk, kKmpProfileUnreadable (no file, not PKCS #12),
// kKmpWrongPassword or kKmpProfileDamaged (opens, but lacks the key, the
// matching certificate or the CA certificate, or holds more).
short ReadProfile(const std::string& path, const std::string& password, OSSL_LIB_CTX* libctx,
                  UserProfile* profile);

}  // namespace veskar::kmpapi

#endif  // VESKAR_STANDINS_KMPAPI32_USER_PROFILE_H_
