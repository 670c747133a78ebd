// The CMS stand-in driven through its entry points in the order the library
// calls them during an enrollment.

#include <gtest/gtest.h>
#include <veskar/toolkit/cmsapi32.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <vector>

#include "cms_enrollment.h"
#include "pki/distinguished_name.h"
#include "standins/cmsapi32/cms_status.h"
#include "test_pki.h"

namespace veskar::cmsapi {
namespace {

using toolkit_test::Bytes;
using toolkit_test::FileCount;
using toolkit_test::FileMode;
using toolkit_test::NewRsaKey;
using toolkit_test::ParseCertificate;
using toolkit_test::ReadFile;
using toolkit_test::SignedRequest;
using toolkit_test::TestCa;
using toolkit_test::VerifiesAgainst;
using toolkit_test::WriteClientIni;
using toolkit_test::WriteFile;

class CmsToolkitTest : public ::testing::Test {
 protected:
  CmsToolkitTest()
      : publish_dir_(ca_.scratch.File("directory")),
        ini_(WriteClientIni(ca_.scratch, ca_.directory, publish_dir_)),
        key_(pki::NewEcKey()) {
    std::filesystem::create_directory(publish_dir_);
  }

  EnrollInput GoodInput() const {
    return {ini_, ca_.user.authorisation_code, std::to_string(ca_.user.reference_number), 0,
            SignedRequest(key_.get(), "Whatever The Request Says")};
  }

  TestCa ca_;
  std::string publish_dir_;
  std::string ini_;
  pki::EvpPkeyPtr key_;
};

TEST_F(CmsToolkitTest, IssuesCertificateForRegisteredNameAndRequestKey) {
  const Outcome outcome = Enroll(GoodInput());
  ASSERT_EQ(outcome.failed_step, "") << outcome.reason;
  EXPECT_EQ(outcome.warning, 0);
  pki::X509Ptr certificate = ParseCertificate(outcome.certificate);
  pki::X509Ptr ca_certificate = ParseCertificate(outcome.ca_certificate);
  ASSERT_TRUE(certificate && ca_certificate);
  EXPECT_EQ(outcome.ca_certificate, ca_.ca->certificate_der());
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_certificate.get()));
  EXPECT_EQ(pki::NameText(X509_get_subject_name(certificate.get())),
            "CN=Test User, O=Veskar Tests");
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(certificate.get()), key_.get()), 1);

  std::vector<ca::RegisteredUser> users;
  ASSERT_TRUE(ca_.ca->ListUsers(&users).ok());
  ASSERT_EQ(users.size(), 1u);
  EXPECT_TRUE(users[0].used);
  EXPECT_EQ(users[0].serial, pki::SerialText(certificate.get()));
  EXPECT_EQ(FileMode(ca_.directory + "/issued/" + users[0].serial + ".pem"), 0600);
  EXPECT_EQ(FileCount(publish_dir_), 0) << "published without the publish flag";
}

TEST_F(CmsToolkitTest, AcceptsPemRequest) {
  EnrollInput in = GoodInput();
  in.pkcs10 = SignedRequest(key_.get(), "PEM", /*pem=*/true);
  const Outcome outcome = Enroll(in);
  EXPECT_EQ(outcome.failed_step, "") << outcome.reason;
  EXPECT_FALSE(outcome.certificate.empty());
}

// Each refusal names its cause, and leaves the pair usable.
TEST_F(CmsToolkitTest, RefusalsSayWhatIsWrongAndKeepThePair) {
  const std::string ref = std::to_string(ca_.user.reference_number);
  Bytes tampered = SignedRequest(key_.get(), "Tampered");
  tampered.back() ^= 0x01;
  pki::EvpPkeyPtr weak = NewRsaKey(1024);
  struct Case {
    const char* name;
    void (*change)(EnrollInput*, const Bytes&, const Bytes&);
    const char* step;
    int status;
    std::string reason;
  };
  const Case cases[] = {
      {"wrong code",
       [](EnrollInput* in, const Bytes&, const Bytes&) {
         in->authorisation_code = "AAAA-AAAA-AAAA";
       },
       "issue", kCmsAuthorisationFailed,
       "authorisation code does not match reference number " + ref},
      {"unknown reference",
       [](EnrollInput* in, const Bytes&, const Bytes&) { in->reference_number = "17"; }, "issue",
       kCmsUnknownReferenceNumber, "reference number 17 is not registered"},
      {"reference not a number",
       [](EnrollInput* in, const Bytes&, const Bytes&) { in->reference_number = "12ab"; }, "issue",
       kCmsBadReferenceNumber, "reference number '12ab' is not a number"},
      {"no request", [](EnrollInput* in, const Bytes&, const Bytes&) { in->pkcs10.clear(); },
       "issue", kCmsBadPkcs10, "the PKCS #10 request is empty"},
      {"garbage request",
       [](EnrollInput* in, const Bytes&, const Bytes&) {
         in->pkcs10 = Bytes{0x30, 0x03, 0x02, 0x01, 0x00};
       },
       "issue", kCmsBadPkcs10, "cannot be read"},
      {"bad signature", [](EnrollInput* in, const Bytes& bad, const Bytes&) { in->pkcs10 = bad; },
       "issue", kCmsPkcs10Signature, "PKCS #10 signature does not verify"},
      {"weak key", [](EnrollInput* in, const Bytes&, const Bytes& rsa) { in->pkcs10 = rsa; },
       "issue", kCmsKeyRejected, "key of 1024 bits is too short"},
      {"other template",
       [](EnrollInput* in, const Bytes&, const Bytes&) { in->template_number = 3; },
       "template field", kCmsBadFieldValue, "template 3 is not offered"},
  };
  const Bytes weak_request = SignedRequest(weak.get(), "Weak");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EnrollInput in = GoodInput();
    c.change(&in, tampered, weak_request);
    const Outcome outcome = Enroll(in);
    EXPECT_EQ(outcome.failed_step, c.step);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.reason_code, c.status);
    EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << outcome.reason;
    EXPECT_TRUE(outcome.certificate.empty());
  }
  const Outcome after = Enroll(GoodInput());
  EXPECT_EQ(after.failed_step, "") << after.reason;
}

// A server that does not answer is unavailable like a folder without a CA,
// and the status text says nothing that only holds for folders.
TEST_F(CmsToolkitTest, UnreachableServerIsUnavailable) {
  EnrollInput in = GoodInput();
  in.ini_path = WriteClientIni(ca_.scratch, "http://127.0.0.1:1/pkix/", "");
  const Outcome outcome = Enroll(in);
  EXPECT_EQ(outcome.failed_step, "issue");
  EXPECT_EQ(outcome.status, kCmsCaUnavailable);
  EXPECT_NE(outcome.reason.find("the CA at http://127.0.0.1:1/pkix/: nothing listens at "
                                "127.0.0.1:1 (connection refused)"),
            std::string::npos)
      << outcome.reason;
  const std::string text = CMSLogToString(kCmsCaUnavailable);
  EXPECT_EQ(text.find("ca.pem"), std::string::npos) << text;
  EXPECT_NE(text.find("server"), std::string::npos) << text;
}

TEST_F(CmsToolkitTest, UsedPairIsRefused) {
  ASSERT_EQ(Enroll(GoodInput()).failed_step, "");
  const Outcome again = Enroll(GoodInput());
  EXPECT_EQ(again.status, kCmsAlreadyUsed);
  EXPECT_EQ(again.reason,
            "reference number " + std::to_string(ca_.user.reference_number) + " already used");
  // Without the code nobody learns that the pair was used.
  EnrollInput wrong = GoodInput();
  wrong.authorisation_code = "AAAA-AAAA-AAAA";
  EXPECT_EQ(Enroll(wrong).status, kCmsAuthorisationFailed);
}

TEST_F(CmsToolkitTest, PublishWritesCertificateToDirectoryFolder) {
  EnrollInput in = GoodInput();
  in.publish = 1;
  const Outcome outcome = Enroll(in);
  ASSERT_EQ(outcome.failed_step, "") << outcome.reason;
  pki::X509Ptr certificate = ParseCertificate(outcome.certificate);
  const std::string published = publish_dir_ + "/" + PublishedFileName(certificate.get());
  EXPECT_EQ(ReadFile(published), outcome.certificate);
  EXPECT_EQ(FileCount(publish_dir_), 1);
}

// Two CAs of the same name publish into one folder; neither file is in the
// other's way.
TEST_F(CmsToolkitTest, CasSharingADirectoryFolderDoNotCollide) {
  TestCa other;
  pki::EvpPkeyPtr other_key = pki::NewEcKey();
  EnrollInput first = GoodInput();
  first.publish = 1;
  EnrollInput second{WriteClientIni(other.scratch, other.directory, publish_dir_),
                     other.user.authorisation_code, std::to_string(other.user.reference_number), 1,
                     SignedRequest(other_key.get(), "Other")};
  const Outcome outcomes[] = {Enroll(first), Enroll(second)};
  const std::regex file_name("[0-9A-F]{16}-[0-9A-F]{1,16}\\.der");
  std::set<std::string> names;
  for (const Outcome& outcome : outcomes) {
    ASSERT_EQ(outcome.failed_step, "") << outcome.reason;
    pki::X509Ptr certificate = ParseCertificate(outcome.certificate);
    ASSERT_TRUE(certificate);
    const std::string name = PublishedFileName(certificate.get());
    EXPECT_TRUE(std::regex_match(name, file_name)) << name;
    EXPECT_EQ(ReadFile(publish_dir_ + "/" + name), outcome.certificate);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 2u);
  EXPECT_EQ(FileCount(publish_dir_), 2);
}

TEST_F(CmsToolkitTest, FailedPublishIssuesNothing) {
  EnrollInput in = GoodInput();
  in.publish = 1;
  in.ini_path = WriteClientIni(ca_.scratch, ca_.directory, ca_.scratch.File("missing"));
  const Outcome outcome = Enroll(in);
  EXPECT_EQ(outcome.status, kCmsPublishFailed);
  EXPECT_NE(outcome.reason.find("cannot publish"), std::string::npos) << outcome.reason;
  in.publish = 0;
  EXPECT_EQ(Enroll(in).failed_step, "") << "the pair was consumed by a failed publish";
}

TEST(CmsToolkitValidity, ShortenedValidityIsOnlyAWarning) {
  TestCa ca(/*days=*/30);
  pki::EvpPkeyPtr key = pki::NewEcKey();
  const Outcome outcome =
      Enroll({WriteClientIni(ca.scratch, ca.directory, ""), ca.user.authorisation_code,
              std::to_string(ca.user.reference_number), 0, SignedRequest(key.get(), "x")});
  ASSERT_EQ(outcome.failed_step, "") << outcome.reason;
  EXPECT_EQ(outcome.warning, kCmsValidityShortened);
  pki::X509Ptr certificate = ParseCertificate(outcome.certificate);
  ASSERT_TRUE(certificate);
  EXPECT_EQ(ASN1_TIME_compare(X509_get0_notAfter(certificate.get()),
                              X509_get0_notAfter(ca.ca->certificate())),
            0);
}

TEST_F(CmsToolkitTest, LoginRefusals) {
  struct Case {
    const char* name;
    const char* version;
    std::string ini;
    int status;
  };
  WriteFile(ca_.scratch.File("no-manager.ini"), "[Entrust Settings]\nServer=x+389\n");
  const Case cases[] = {
      {"other version", "9.9", ini_, kCmsVersionMismatch},
      {"no INI file", CMSQueryVersionNumber(), ca_.scratch.File("absent.ini"), kCmsIniUnreadable},
      {"INI without manager", CMSQueryVersionNumber(), ca_.scratch.File("no-manager.ini"),
       kCmsIniUnreadable},
      {"not a CA", CMSQueryVersionNumber(), WriteClientIni(ca_.scratch, ca_.scratch.path(), ""),
       kCmsCaUnavailable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* login = &login;
    EXPECT_EQ(
        CMSLogin(c.version, CMS_CRYPTO_LIBRARY_DEFAULT, nullptr, c.ini.c_str(), nullptr, &login),
        c.status);
    EXPECT_EQ(login, nullptr);
  }
}

// Stale, foreign and null handles and records get a status, never a crash.
TEST_F(CmsToolkitTest, BadHandlesAndRecordsAreRefused) {
  void* login = nullptr;
  void* other = nullptr;
  ASSERT_EQ(CMSLogin(CMSQueryVersionNumber(), CMS_CRYPTO_LIBRARY_DEFAULT, nullptr, ini_.c_str(),
                     nullptr, &login),
            kCmsOk);
  ASSERT_EQ(CMSLogin(CMSQueryVersionNumber(), CMS_CRYPTO_LIBRARY_DEFAULT, nullptr, ini_.c_str(),
                     nullptr, &other),
            kCmsOk);
  void* request = nullptr;
  void* cert_template = nullptr;
  ASSERT_EQ(CMSCreateReqHdl(login, CMS_REQ_HDL_DEFAULT, &request), kCmsOk);
  ASSERT_EQ(CMSCreateCertTempl(login, &cert_template), kCmsOk);

  EXPECT_EQ(CMSSetReqAttrib(other, request, CMS_REQ_ATTRIB_AUTH_CODE, nullptr), kCmsBadHandle);
  EXPECT_EQ(CMSSetReqAttrib(login, request, CMS_REQ_ATTRIB_AUTH_CODE, nullptr),
            kCmsBadAttributeValue);
  CMSAttribValue lying{CMS_DATA_TEXT, 5, nullptr};
  EXPECT_EQ(CMSSetReqAttrib(login, request, CMS_REQ_ATTRIB_REF_NUM, &lying), kCmsBadAttributeValue);
  EXPECT_EQ(CMSSetReqAttrib(login, request, static_cast<CMSReqAttribType>(7), &lying),
            kCmsUnknownAttribute);
  EXPECT_EQ(CMSRequestMyCertificate(login, request, cert_template, nullptr), kCmsBadHandle)
      << "handles swapped";
  EXPECT_EQ(CMSRequestMyCertificate(login, cert_template, request, nullptr), kCmsRequestIncomplete);
  KeyPair key_pair{};
  key_pair.kind = 2;
  CMSBinaryData ca{};
  EXPECT_EQ(CMSRetrieveMyCertificate(login, request, &key_pair, nullptr, &ca), kCmsNotIssued);
  EXPECT_EQ(CMSRetrieveMyCertificate(login, request, nullptr, nullptr, &ca), kCmsBadArgument);

  unsigned char foreign[4] = {1, 2, 3, 4};
  CMSBinaryData not_ours{4, foreign};
  CMSReleaseBuffer(&not_ours);
  EXPECT_EQ(not_ours.data, foreign);
  key_pair.certificate = not_ours;
  EXPECT_EQ(CMSReleaseKeyPair(&key_pair), kCmsBadArgument);
  EXPECT_EQ(CMSReleaseKeyPair(nullptr), kCmsBadArgument);
  CMSReleaseBuffer(nullptr);

  EXPECT_EQ(CMSReleaseReqHdl(other, &request), kCmsBadHandle);
  EXPECT_EQ(CMSReleaseReqHdl(login, &request), kCmsOk);
  EXPECT_EQ(request, nullptr);
  void* stale = cert_template;
  EXPECT_EQ(CMSReleaseCertTempl(login, &cert_template), kCmsOk);
  EXPECT_EQ(CMSReleaseCertTempl(login, &stale), kCmsBadHandle);
  EXPECT_EQ(CMSCreateReqHdl(login, CMS_REQ_HDL_DEFAULT, nullptr), kCmsBadArgument);
  EXPECT_EQ(CMSCreateReqHdl(nullptr, CMS_REQ_HDL_DEFAULT, &request), kCmsBadHandle);
  EXPECT_EQ(ENTGetEntErr(nullptr, nullptr), 0);

  // A request left open dies with its login.
  ASSERT_EQ(CMSCreateReqHdl(other, CMS_REQ_HDL_DEFAULT, &request), kCmsOk);
  EXPECT_EQ(CMSLogout(&other), kCmsOk);
  stale = login;
  EXPECT_EQ(CMSLogout(&login), kCmsOk);
  EXPECT_EQ(CMSLogout(&stale), kCmsBadHandle);
  EXPECT_EQ(CMSLogout(nullptr), kCmsBadArgument);
}

// A released handle stays refused after new objects of its kind are made,
// which may take the released one's memory.
TEST_F(CmsToolkitTest, ReleasedHandlesStayRefusedAfterNewOnesAreMade) {
  const auto login_now = [this] {
    void* login = nullptr;
    EXPECT_EQ(CMSLogin(CMSQueryVersionNumber(), CMS_CRYPTO_LIBRARY_DEFAULT, nullptr, ini_.c_str(),
                       nullptr, &login),
              kCmsOk);
    return login;
  };
  void* stale_login = login_now();
  void* released = stale_login;
  ASSERT_EQ(CMSLogout(&released), kCmsOk);
  void* login = login_now();
  void* stale_request = nullptr;
  void* stale_template = nullptr;
  ASSERT_EQ(CMSCreateReqHdl(login, CMS_REQ_HDL_DEFAULT, &stale_request), kCmsOk);
  ASSERT_EQ(CMSCreateCertTempl(login, &stale_template), kCmsOk);
  released = stale_request;
  ASSERT_EQ(CMSReleaseReqHdl(login, &released), kCmsOk);
  released = stale_template;
  ASSERT_EQ(CMSReleaseCertTempl(login, &released), kCmsOk);
  void* request = nullptr;
  void* cert_template = nullptr;
  ASSERT_EQ(CMSCreateReqHdl(login, CMS_REQ_HDL_DEFAULT, &request), kCmsOk);
  ASSERT_EQ(CMSCreateCertTempl(login, &cert_template), kCmsOk);

  const int32_t flag = 1;
  CMSAttribValue publish{CMS_DATA_INT32, 4,
                         reinterpret_cast<unsigned char*>(const_cast<int32_t*>(&flag))};
  EXPECT_EQ(CMSSetReqAttrib(login, stale_request, CMS_REQ_ATTRIB_PUBLISH, &publish), kCmsBadHandle);
  EXPECT_EQ(CMSSetReqAttrib(login, request, CMS_REQ_ATTRIB_PUBLISH, &publish), kCmsOk);
  const int32_t number = 2;
  CMSAttribValue field{CMS_DATA_INT32, 4,
                       reinterpret_cast<unsigned char*>(const_cast<int32_t*>(&number))};
  EXPECT_EQ(CMSSetCertFieldValue(login, stale_template, CMS_FIELD_TEMPLATE, &field), kCmsBadHandle);
  EXPECT_EQ(CMSSetCertFieldValue(login, cert_template, CMS_FIELD_TEMPLATE, &field), kCmsOk);
  EXPECT_EQ(CMSCreateReqHdl(stale_login, CMS_REQ_HDL_DEFAULT, &stale_request), kCmsBadHandle);
  EXPECT_EQ(CMSLogout(&stale_login), kCmsBadHandle);

  EXPECT_EQ(CMSReleaseCertTempl(login, &cert_template), kCmsOk);
  EXPECT_EQ(CMSReleaseReqHdl(login, &request), kCmsOk);
  EXPECT_EQ(CMSLogout(&login), kCmsOk);
}

TEST_F(CmsToolkitTest, ReasonNeverOverrunsTheCallersBuffer) {
  void* login = nullptr;
  void* request = nullptr;
  void* cert_template = nullptr;
  ASSERT_EQ(CMSLogin(CMSQueryVersionNumber(), CMS_CRYPTO_LIBRARY_DEFAULT, nullptr, ini_.c_str(),
                     nullptr, &login),
            kCmsOk);
  ASSERT_EQ(CMSCreateReqHdl(login, CMS_REQ_HDL_DEFAULT, &request), kCmsOk);
  ASSERT_EQ(CMSCreateCertTempl(login, &cert_template), kCmsOk);
  const std::string digits(1000, '7');  // a reference number far too long: a long reason
  CMSAttribValue text{CMS_DATA_TEXT, static_cast<uint32_t>(digits.size()),
                      reinterpret_cast<unsigned char*>(const_cast<char*>(digits.data()))};
  for (const CMSReqAttribType attribute : {CMS_REQ_ATTRIB_AUTH_CODE, CMS_REQ_ATTRIB_REF_NUM}) {
    ASSERT_EQ(CMSSetReqAttrib(login, request, attribute, &text), kCmsOk);
  }
  Bytes pkcs10 = SignedRequest(key_.get(), "x");
  CMSAttribValue bytes{CMS_DATA_BYTES, static_cast<uint32_t>(pkcs10.size()), pkcs10.data()};
  ASSERT_EQ(CMSSetReqAttrib(login, request, CMS_REQ_ATTRIB_PKCS10, &bytes), kCmsOk);
  ASSERT_EQ(CMSRequestMyCertificate(login, cert_template, request, nullptr),
            kCmsBadReferenceNumber);

  for (const uint32_t size : {1024u, 10u, 1u}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> buffer(size + 16, 0xAB);
    CMSBinaryData reason{size, buffer.data()};
    EXPECT_EQ(ENTGetEntErr(login, &reason), kCmsBadReferenceNumber);
    EXPECT_EQ(std::strlen(reinterpret_cast<char*>(buffer.data())), size - 1);
    for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << i;
  }
  CMSReleaseCertTempl(login, &cert_template);
  CMSReleaseReqHdl(login, &request);
  CMSLogout(&login);
}

}  // namespace
}  // namespace veskar::cmsapi
