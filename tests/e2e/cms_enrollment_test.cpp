// CMS enrollment through the library and the stand-in toolkit: what a host
// receives, what the CA and the temporary folder are left with.

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "pki/distinguished_name.h"

namespace veskar::e2e {
namespace {

using toolkit_test::ParseCertificate;
using toolkit_test::ReadFile;
using toolkit_test::SignedRequest;
using toolkit_test::VerifiesAgainst;

class CmsEnrollmentTest : public EndToEndTest {
 protected:
  CmsEnrollmentTest() : directory_(ca_.scratch.File("directory")), key_(pki::NewEcKey()) {
    std::filesystem::create_directory(directory_);
  }

  CmsInput GoodInput() const {
    return {ca_.directory, directory_, Code(),
            Reference(),   0,          SignedRequest(key_.get(), "Whatever The Request Says")};
  }

  std::string directory_;
  pki::EvpPkeyPtr key_;
};

TEST_F(CmsEnrollmentTest, IssuedCertificateIsForTheRegisteredNameAndTheRequestKey) {
  CmsInput in = GoodInput();
  in.publish = 1;
  const Outcome outcome = EnrollCms(in);
  ASSERT_EQ(outcome.message, 0) << outcome.error << outcome.extended_error;
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.extended_error, "");
  const pki::X509Ptr certificate = ParseCertificate(outcome.certificate);
  ASSERT_TRUE(certificate);
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_.ca->certificate()));
  EXPECT_EQ(pki::NameText(X509_get_subject_name(certificate.get())),
            "CN=Test User, O=Veskar Tests");
  EXPECT_TRUE(SamePublicKey(certificate.get(), key_.get()));
  EXPECT_EQ(outcome.ca_certificate, ca_.ca->certificate_der());

  // Published under its issuer's key identifier and its serial number.
  EXPECT_EQ(ReadFile(directory_ + "/" + cmsapi::PublishedFileName(certificate.get())),
            outcome.certificate);

  // The INI file is gone; the one file left is the protected copy of both
  // certificates, which opens with the reference number.
  const std::vector<std::string> left = tmp_.Files();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].rfind("ENT", 0), 0u);
  EXPECT_EQ(left[0].substr(left[0].size() - 4), ".DER");
  CQnEntCmsPMA agent;
  unsigned char* copy = nullptr;
  unsigned int length = 0;
  agent.GetFromProtectedFile("Verification Certificate", (tmp_.path() + "/" + left[0]).c_str(),
                             Reference().c_str(), &copy, length);
  EXPECT_EQ(TakeBuffer(copy, length), outcome.certificate);
}

// A refusal gives the message of the failing step, the stand-in's reason in
// the extended error, nothing for the host and nothing in the temporary
// folder.
TEST_F(CmsEnrollmentTest, RefusalsCarryTheStandInsReason) {
  Bytes tampered = GoodInput().pkcs10;
  tampered.back() ^= 0x01;
  const std::string reason = "Request to Entrust failed due to the following reason:";
  struct Case {
    const char* name;
    CmsInput in;
    int message;
    std::string extended_error;
  };
  std::vector<Case> cases = {
      {"wrong code", GoodInput(), 52008,
       reason +
           "(1033) bad message check: the authorisation code does not match reference number " +
           Reference()},
      {"tampered request", GoodInput(), 52008,
       reason + "(1036) PKCS #10 signature does not verify"},
      {"code too long for an attribute", GoodInput(), 52006, reason + "(1021) "},
      // The stand-in cannot log in, and a failed login has no reason to give.
      {"no CA folder", GoodInput(), 52003, ""},
  };
  cases[0].in.authorisation_code = "AAAA-AAAA-AAAA";
  cases[1].in.pkcs10 = tampered;
  cases[2].in.authorisation_code = std::string(2000, 'A');
  cases[3].in.ca_location = ca_.scratch.File("no-such-ca");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = EnrollCms(c.in);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.extended_error.rfind(c.extended_error, 0), 0u) << outcome.extended_error;
    EXPECT_EQ(outcome.extended_error.empty(), c.extended_error.empty()) << outcome.extended_error;
    EXPECT_TRUE(outcome.certificate.empty());
    EXPECT_TRUE(outcome.ca_certificate.empty());
    EXPECT_EQ(tmp_.Files(), std::vector<std::string>());
  }
}

TEST_F(CmsEnrollmentTest, AUsedPairIsRefused) {
  const Outcome first = EnrollCms(GoodInput());
  ASSERT_EQ(first.message, 0) << first.extended_error;
  EXPECT_EQ(toolkit_test::FileCount(directory_), 0) << "published without the publish flag";
  const Outcome second = EnrollCms(GoodInput());
  EXPECT_EQ(second.message, 52008);
  EXPECT_NE(second.extended_error.find("reference number " + Reference() + " already used"),
            std::string::npos)
      << second.extended_error;
  EXPECT_TRUE(second.certificate.empty());
}

}  // namespace
}  // namespace veskar::e2e
