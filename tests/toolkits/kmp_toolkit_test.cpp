// The IPSec stand-in driven the way the library drives it: user creation,
// login, certificate fetch, logout.

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>
#include <veskar/toolkit/kmpapi32.h>

#include <string>

#include "pki/distinguished_name.h"
#include "standins/kmpapi32/kmp_status.h"
#include "test_pki.h"

namespace veskar::kmpapi {
namespace {

using toolkit_test::Bytes;
using toolkit_test::FileMode;
using toolkit_test::ParseCertificate;
using toolkit_test::ReadFile;
using toolkit_test::TestCa;
using toolkit_test::VerifiesAgainst;
using toolkit_test::WriteClientIni;
using toolkit_test::WriteFile;

constexpr isakmp_options_struct kOptions = {0, 1000, 1};

class KmpToolkitTest : public ::testing::Test {
 protected:
  KmpToolkitTest()
      : ini_(WriteClientIni(ca_.scratch, ca_.directory, "")),
        profile_(ca_.scratch.File("user.epf")) {}

  short Create(const std::string& profile, const char* password = "pass word", int ref = 0,
               const std::string& code = "") const {
    return IKMPCreateUser(ref != 0 ? ref : ca_.user.reference_number,
                          code.empty() ? ca_.user.authorisation_code.c_str() : code.c_str(),
                          password, ini_.c_str(), profile.c_str(), 1);
  }

  TestCa ca_;
  std::string ini_;
  std::string profile_;
};

TEST_F(KmpToolkitTest, CreatedUserLogsInAndGetsCertificates) {
  ASSERT_EQ(Create(profile_), kKmpOk);
  EXPECT_EQ(FileMode(profile_), 0600);

  void* login = nullptr;
  ASSERT_EQ(IKMPLogin(&login, profile_.c_str(), "pass word", ini_.c_str(), kOptions), kKmpOk);
  IKMPBinaryData user{}, ca{}, extra{7, reinterpret_cast<unsigned char*>(&extra)};
  ASSERT_EQ(IKMPGetMyVerifyCertificate(login, 1, &user, &ca, &extra), kKmpOk);
  EXPECT_EQ(extra.count, 0u);
  pki::X509Ptr certificate = ParseCertificate(Bytes(user.data, user.data + user.count));
  pki::X509Ptr ca_certificate = ParseCertificate(Bytes(ca.data, ca.data + ca.count));
  ASSERT_TRUE(certificate && ca_certificate);
  EXPECT_EQ(pki::CertificateToDer(ca_certificate.get()), ca_.ca->certificate_der());
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_certificate.get()));
  EXPECT_EQ(pki::NameText(X509_get_subject_name(certificate.get())),
            "CN=Test User, O=Veskar Tests");
  char* name = nullptr;
  ASSERT_EQ(IKMPGetEPFName(login, &name), kKmpOk);
  EXPECT_EQ(std::string(name), profile_);
  EXPECT_EQ(IKMPGetMyVerifyCertificate(login, 2, &user, &ca, nullptr), kKmpNoSuchCertificate);
  EXPECT_EQ(IKMPLogout(&login), kKmpOk);
  EXPECT_EQ(login, nullptr);

  // The profile is plain PKCS #12: any tool opens it with the password, and
  // its key is the certified one.
  const Bytes der = ReadFile(profile_);
  const unsigned char* p = der.data();
  pki::Pkcs12Ptr container(d2i_PKCS12(nullptr, &p, static_cast<long>(der.size())));
  EVP_PKEY* key = nullptr;
  X509* inside = nullptr;
  ASSERT_TRUE(container);
  ASSERT_EQ(PKCS12_parse(container.get(), "pass word", &key, &inside, nullptr), 1);
  pki::EvpPkeyPtr owned_key(key);
  pki::X509Ptr owned_certificate(inside);
  EXPECT_EQ(X509_cmp(inside, certificate.get()), 0);
  EXPECT_EQ(X509_check_private_key(certificate.get(), key), 1);
}

TEST_F(KmpToolkitTest, WrongPasswordFailsLogin) {
  ASSERT_EQ(Create(profile_), kKmpOk);
  void* login = &login;
  EXPECT_EQ(IKMPLogin(&login, profile_.c_str(), "pass worD", ini_.c_str(), kOptions),
            kKmpWrongPassword);
  EXPECT_EQ(login, nullptr);
  EXPECT_EQ(IKMPLogin(&login, ca_.scratch.File("none").c_str(), "x", ini_.c_str(), kOptions),
            kKmpProfileUnreadable);
  EXPECT_EQ(IKMPLogin(&login, ini_.c_str(), "x", ini_.c_str(), kOptions), kKmpProfileUnreadable);
}

// Every refused creation names its cause, writes no profile and keeps the pair.
TEST_F(KmpToolkitTest, RefusedCreationsLeaveNoProfile) {
  const ca::RegisteredUser used = ca_.AddUser("CN=Used");
  ASSERT_EQ(IKMPCreateUser(used.reference_number, used.authorisation_code.c_str(), "p",
                           ini_.c_str(), ca_.scratch.File("used.epf").c_str(), 1),
            kKmpOk);
  struct Case {
    const char* name;
    int ref;
    std::string code;
    const char* password;
    int flags;
    short status;
  };
  const int ref = ca_.user.reference_number;
  const std::string code = ca_.user.authorisation_code;
  const Case cases[] = {
      {"wrong code", ref, "AAAA-AAAA-AAAA", "p", 1, kKmpAuthorisationFailed},
      {"unknown reference", 17, code, "p", 1, kKmpUnknownReferenceNumber},
      {"no reference", 0, code, "p", 1, kKmpBadReferenceNumber},
      {"used pair", used.reference_number, used.authorisation_code, "p", 1, kKmpAlreadyUsed},
      {"empty password", ref, code, "", 1, kKmpBadArgument},
      {"other flags", ref, code, "p", 2, kKmpBadArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(
        IKMPCreateUser(c.ref, c.code.c_str(), c.password, ini_.c_str(), profile_.c_str(), c.flags),
        c.status);
    EXPECT_EQ(FileMode(profile_), -1);
    EXPECT_NE(std::string(IKMPGetErrString(c.status)), "unknown status");
  }
  EXPECT_EQ(IKMPCreateUser(ref, code.c_str(), "p", ca_.scratch.File("absent.ini").c_str(),
                           profile_.c_str(), 1),
            kKmpIniUnreadable);
  EXPECT_EQ(Create(profile_), kKmpOk);
}

TEST_F(KmpToolkitTest, ExistingProfileIsNotOverwritten) {
  WriteFile(profile_, "someone's profile");
  EXPECT_EQ(Create(profile_), kKmpProfileExists);
  const Bytes kept = ReadFile(profile_);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "someone's profile");
  // An empty placeholder is fair game, and the pair was not spent above.
  WriteFile(profile_, "");
  EXPECT_EQ(Create(profile_), kKmpOk);
  EXPECT_EQ(FileMode(profile_), 0600);
}

TEST_F(KmpToolkitTest, BadHandlesAreRefused) {
  int not_a_login = 0;
  IKMPBinaryData user{}, ca{};
  char* name = nullptr;
  EXPECT_EQ(IKMPGetMyVerifyCertificate(&not_a_login, 1, &user, &ca, nullptr), kKmpBadHandle);
  EXPECT_EQ(IKMPGetMyVerifyCertificate(nullptr, 1, &user, &ca, nullptr), kKmpBadHandle);
  EXPECT_EQ(IKMPGetEPFName(&not_a_login, &name), kKmpBadHandle);
  void* login = &not_a_login;
  EXPECT_EQ(IKMPLogout(&login), kKmpBadHandle);
  EXPECT_EQ(IKMPLogout(nullptr), kKmpBadArgument);
  EXPECT_EQ(IKMPLogin(nullptr, profile_.c_str(), "p", ini_.c_str(), kOptions), kKmpBadArgument);
  EXPECT_EQ(IKMPCreateUser(1, nullptr, "p", ini_.c_str(), profile_.c_str(), 1), kKmpBadArgument);

  ASSERT_EQ(Create(profile_, "p"), kKmpOk);
  ASSERT_EQ(IKMPLogin(&login, profile_.c_str(), "p", nullptr, kOptions), kKmpOk);
  EXPECT_EQ(IKMPGetMyVerifyCertificate(login, 1, nullptr, &ca, nullptr), kKmpBadArgument);
  void* stale = login;
  EXPECT_EQ(IKMPLogout(&login), kKmpOk);
  EXPECT_EQ(IKMPLogout(&stale), kKmpBadHandle);
  EXPECT_EQ(IKMPGetMyVerifyCertificate(stale, 1, &user, &ca, nullptr), kKmpBadHandle);
}

}  // namespace
}  // namespace veskar::kmpapi
