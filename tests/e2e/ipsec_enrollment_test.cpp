// IPSec enrollment through the library and the stand-in toolkit: a profile
// created, logged in to again, and refused with a wrong password.

#include <string>
#include <vector>

#include "e2e_support.h"
#include "pki/distinguished_name.h"

namespace veskar::e2e {
namespace {

using toolkit_test::ParseCertificate;
using toolkit_test::VerifiesAgainst;

class IpsecEnrollmentTest : public EndToEndTest {
 protected:
  // Creates the user when both codes are given; logs in otherwise.
  Outcome EnrollIpsec(const std::string& profile, const std::string& password,
                      const std::string& code = "", const std::string& reference = "") {
    CQnPMCrtUsrEntIPSec record("e2e", ca_.directory.c_str(), "", password.c_str(), profile.c_str(),
                               code.c_str(), reference.c_str());
    return Enroll<CQnEntIPSecPMA>(record);
  }
};

TEST_F(IpsecEnrollmentTest, CreatedUserLogsInAgainButNotWithAWrongPassword) {
  const std::string profile = ca_.scratch.File("user.p12");
  const Outcome created = EnrollIpsec(profile, "right password", Code(), Reference());
  ASSERT_EQ(created.message, 0);
  const pki::X509Ptr certificate = ParseCertificate(created.certificate);
  ASSERT_TRUE(certificate);
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_.ca->certificate()));
  EXPECT_EQ(pki::NameText(X509_get_subject_name(certificate.get())),
            "CN=Test User, O=Veskar Tests");
  EXPECT_EQ(created.ca_certificate, ca_.ca->certificate_der());
  EXPECT_EQ(toolkit_test::FileMode(profile), 0600);

  const Outcome logged_in = EnrollIpsec(profile, "right password");
  EXPECT_EQ(logged_in.message, 0);
  EXPECT_EQ(logged_in.certificate, created.certificate);
  EXPECT_EQ(logged_in.ca_certificate, created.ca_certificate);

  const Outcome refused = EnrollIpsec(profile, "wrong password");
  EXPECT_EQ(refused.message, 53006);
  EXPECT_TRUE(refused.certificate.empty());
  EXPECT_TRUE(refused.ca_certificate.empty());

  // The pair is spent: a second profile cannot be made with it.
  const std::string second = ca_.scratch.File("second.p12");
  EXPECT_EQ(EnrollIpsec(second, "right password", Code(), Reference()).message, 53002);
  EXPECT_EQ(toolkit_test::FileMode(second), -1);
  EXPECT_EQ(tmp_.Files(), std::vector<std::string>()) << "an INI file was left behind";
}

}  // namespace
}  // namespace veskar::e2e
