#include "standins/kmpapi32/user_profile.h"

#include <openssl/pkcs12.h>

#include <memory>
#include <utility>
#include <vector>

#include "pki/distinguished_name.h"
#include "pki/files.h"
#include "standins/kmpapi32/kmp_status.h"

namespace veskar::kmpapi {
namespace {

constexpr size_t kMaxProfileSize = 1024 * 1024;
constexpr int kIterations = 100000;

struct SafeBagsDeleter {
  void operator()(STACK_OF(PKCS12_SAFEBAG) * bags) const {
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
  }
};
using SafeBagsPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), SafeBagsDeleter>;

struct Pkcs7StackDeleter {
  void operator()(STACK_OF(PKCS7) * safes) const { sk_PKCS7_pop_free(safes, PKCS7_free); }
};
using Pkcs7StackPtr = std::unique_ptr<STACK_OF(PKCS7), Pkcs7StackDeleter>;

// Takes the key and the certificates out of one bag. OpenSSL's PKCS12_parse
// would decrypt the key in the default library context.
bool OpenBag(PKCS12_SAFEBAG* bag, const std::string& password, OSSL_LIB_CTX* libctx,
             pki::EvpPkeyPtr* key, std::vector<pki::X509Ptr>* certificates) {
  switch (PKCS12_SAFEBAG_get_nid(bag)) {
    case NID_pkcs8ShroudedKeyBag: {
      if (*key) return false;
      PKCS8_PRIV_KEY_INFO* info =
          PKCS12_decrypt_skey_ex(bag, password.c_str(), -1, libctx, nullptr);
      key->reset(info != nullptr ? EVP_PKCS82PKEY_ex(info, libctx, nullptr) : nullptr);
      PKCS8_PRIV_KEY_INFO_free(info);
      return *key != nullptr;
    }
    case NID_certBag:
      certificates->emplace_back(PKCS12_SAFEBAG_get1_cert(bag));
      return certificates->back() != nullptr;
    default:
      return true;  // nothing this profile keeps
  }
}

// The key and the certificates of a profile whose integrity was checked.
bool OpenSafes(PKCS12* container, const std::string& password, OSSL_LIB_CTX* libctx,
               pki::EvpPkeyPtr* key, std::vector<pki::X509Ptr>* certificates) {
  Pkcs7StackPtr safes(PKCS12_unpack_authsafes(container));
  if (!safes) return false;
  for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(safes.get(), i);
    SafeBagsPtr bags(PKCS7_type_is_data(safe) ? PKCS12_unpack_p7data(safe)
                     : PKCS7_type_is_encrypted(safe)
                         ? PKCS12_unpack_p7encdata(safe, password.c_str(), -1)
                         : nullptr);
    if (!bags) return false;
    for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
      if (!OpenBag(sk_PKCS12_SAFEBAG_value(bags.get(), j), password, libctx, key, certificates)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

pki::Bytes EncodeProfile(const UserProfile& profile, const std::string& password,
                         OSSL_LIB_CTX* libctx) {
  pki::X509StackPtr chain(sk_X509_new_null());
  if (!chain || X509_up_ref(profile.ca_certificate.get()) != 1) return {};
  if (sk_X509_push(chain.get(), profile.ca_certificate.get()) <= 0) {
    X509_free(profile.ca_certificate.get());
    return {};
  }
  const std::string name = pki::NameText(X509_get_subject_name(profile.certificate.get()));
  pki::Pkcs12Ptr container(PKCS12_create_ex(
      password.c_str(), name.c_str(), profile.key.get(), profile.certificate.get(), chain.get(),
      NID_aes_256_cbc, NID_aes_256_cbc, kIterations, kIterations, 0, libctx, nullptr));
  if (!container) return {};
  return pki::Encoded(container.get(), i2d_PKCS12);
}

short ReadProfile(const std::string& path, const std::string& password, OSSL_LIB_CTX* libctx,
                  UserProfile* profile) {
  pki::Bytes content;
  std::string error;
  if (!pki::ReadWholeFile(path, kMaxProfileSize, &content, &error) || content.empty()) {
    return kKmpProfileUnreadable;
  }
  // Read into a container made in the context, which the integrity check
  // and the decryption of the certificates then use.
  PKCS12* made = PKCS12_init_ex(NID_pkcs7_data, libctx, nullptr);
  if (made == nullptr) return kKmpProfileUnreadable;
  const unsigned char* p = content.data();
  const bool read = d2i_PKCS12(&made, &p, static_cast<long>(content.size())) != nullptr;
  pki::Pkcs12Ptr container(made);
  if (!read) {
    pki::TakeOpensslError();
    return kKmpProfileUnreadable;
  }
  if (PKCS12_mac_present(container.get()) != 1) return kKmpProfileDamaged;
  if (PKCS12_verify_mac(container.get(), password.c_str(), -1) != 1) {
    pki::TakeOpensslError();
    return kKmpWrongPassword;
  }
  std::vector<pki::X509Ptr> certificates;
  if (!OpenSafes(container.get(), password, libctx, &profile->key, &certificates) ||
      !profile->key || certificates.size() != 2) {
    pki::TakeOpensslError();
    return kKmpProfileDamaged;
  }
  // The user's certificate is the one for the key; the other is the CA's.
  const bool first_is_users =
      X509_check_private_key(certificates[0].get(), profile->key.get()) == 1;
  profile->certificate = std::move(certificates[first_is_users ? 0 : 1]);
  profile->ca_certificate = std::move(certificates[first_is_users ? 1 : 0]);
  if (X509_check_private_key(profile->certificate.get(), profile->key.get()) != 1) {
    pki::TakeOpensslError();
    return kKmpProfileDamaged;
  }
  return kKmpOk;
}

}  // namespace veskar::kmpapi
