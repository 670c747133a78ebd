#include "standins/kmpapi32/user_profile.h"

#include <openssl/pkcs12.h>

#include "pki/distinguished_name.h"
#include "pki/files.h"
#include "standins/kmpapi32/kmp_status.h"

namespace veskar::kmpapi {
namespace {

constexpr size_t kMaxProfileSize = 1024 * 1024;
constexpr int kIterations = 100000;

}  // namespace

pki::Bytes EncodeProfile(const UserProfile& profile, const std::string& password) {
  pki::X509StackPtr chain(sk_X509_new_null());
  if (!chain || X509_up_ref(profile.ca_certificate.get()) != 1) return {};
  if (sk_X509_push(chain.get(), profile.ca_certificate.get()) <= 0) {
    X509_free(profile.ca_certificate.get());
    return {};
  }
  const std::string name = pki::NameText(X509_get_subject_name(profile.certificate.get()));
  pki::Pkcs12Ptr container(PKCS12_create(password.c_str(), name.c_str(), profile.key.get(),
                                         profile.certificate.get(), chain.get(), NID_aes_256_cbc,
                                         NID_aes_256_cbc, kIterations, kIterations, 0));
  if (!container) return {};
  return pki::Encoded(container.get(), i2d_PKCS12);
}

short ReadProfile(const std::string& path, const std::string& password, UserProfile* profile) {
  pki::Bytes content;
  std::string error;
  if (!pki::ReadWholeFile(path, kMaxProfileSize, &content, &error) || content.empty()) {
    return kKmpProfileUnreadable;
  }
  const unsigned char* p = content.data();
  pki::Pkcs12Ptr container(d2i_PKCS12(nullptr, &p, static_cast<long>(content.size())));
  if (!container) {
    pki::TakeOpensslError();
    return kKmpProfileUnreadable;
  }
  if (PKCS12_mac_present(container.get()) != 1) return kKmpProfileDamaged;
  if (PKCS12_verify_mac(container.get(), password.c_str(), -1) != 1) {
    pki::TakeOpensslError();
    return kKmpWrongPassword;
  }
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (PKCS12_parse(container.get(), password.c_str(), &key, &certificate, &chain) != 1) {
    pki::TakeOpensslError();
    return kKmpProfileDamaged;
  }
  profile->key.reset(key);
  profile->certificate.reset(certificate);
  pki::X509StackPtr owned_chain(chain);
  if (owned_chain && sk_X509_num(owned_chain.get()) == 1) {
    profile->ca_certificate.reset(sk_X509_shift(owned_chain.get()));
  }
  if (!profile->key || !profile->certificate || !profile->ca_certificate ||
      X509_check_private_key(profile->certificate.get(), profile->key.get()) != 1) {
    pki::TakeOpensslError();
    return kKmpProfileDamaged;
  }
  return kKmpOk;
}

}  // namespace veskar::kmpapi
