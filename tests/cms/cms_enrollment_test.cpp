// CMS enrollment driven as a host drives it, against the scriptable fake
// toolkit: results, the calls made and their arguments, the clean-up on every
// path, and what is left in the temporary directory.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <string>
#include <vector>

#include "support/journal.h"
#include "support/temp_dir.h"
#include "testing/fake_cms_control.h"

namespace {

const std::string kUserCert = "user-certificate-DER";
const std::string kCaCert = "ca-certificate-DER";
const std::string kIniFor =
    "[Entrust Settings]\nManager=ca.test+709\nServer=dir.test+389\n"
    "ClientType=Heavy\nSigningKey=DSA";

std::vector<std::string> CleanupCalls(const Journal& journal) {
  std::vector<std::string> out;
  for (const std::string& name : journal.Calls()) {
    if (name.rfind("CMSRelease", 0) == 0 || name == "CMSLogout") out.push_back(name);
  }
  return out;
}

std::string Bytes(const unsigned char* data, unsigned int length) {
  return data ? std::string(reinterpret_cast<const char*>(data), length) : std::string();
}

class CmsEnrollment : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeCms_Reset();
    SetCertificates(kUserCert, kCaCert);
  }
  void TearDown() override {
    delete[] certificate_;
    unsigned int length = 0;
    delete[] record_.GetRawCACertificate(length);
    EXPECT_EQ(FakeCms_OutstandingBuffers(), 0) << "toolkit buffers or handles not released";
  }

  static void SetCertificates(const std::string& user, const std::string& ca) {
    FakeCms_SetCertificates(reinterpret_cast<const unsigned char*>(user.data()), user.size(),
                            reinterpret_cast<const unsigned char*>(ca.data()), ca.size());
  }

  int Enroll() { return agent_.CreateUserCertificate(&certificate_, length_, &record_); }
  Journal Calls() const { return Journal(FakeCms_Journal()); }

  ScopedTempDir tmp_;
  unsigned char pkcs10_[5] = {0x30, 0x03, 0x02, 0x01, 0x07};
  CQnEntCmsPMA agent_;
  CQnPMCrtUsrEntCms record_{"label", "ca.test", "dir.test", "AUTH-CODE", "17", 1, pkcs10_, 5};
  unsigned char* certificate_ = nullptr;
  unsigned int length_ = 0;
};

TEST_F(CmsEnrollment, SuccessHandsOutBothCertificatesAndReleasesEverythingInReverse) {
  ASSERT_EQ(Enroll(), 0);
  EXPECT_EQ(Bytes(certificate_, length_), kUserCert);
  unsigned int ca_length = 0;
  unsigned char* ca = record_.GetRawCACertificate(ca_length);
  EXPECT_EQ(Bytes(ca, ca_length), kCaCert);
  EXPECT_TRUE(agent_.GetErrorString().IsEmpty());
  EXPECT_TRUE(agent_.GetExtendedErrorString().IsEmpty());

  const Journal journal = Calls();
  EXPECT_EQ(
      journal.Calls(),
      (std::vector<std::string>{
          "CMSQueryVersionNumber", "CMSLogin", "ini-bytes", "CMSCreateReqHdl", "CMSCreateCertTempl",
          "CMSSetReqAttrib", "CMSSetReqAttrib", "CMSSetReqAttrib", "CMSSetReqAttrib",
          "CMSSetCertFieldValue", "CMSRequestMyCertificate", "CMSRetrieveMyCertificate",
          "ENTPutProtectedData", "ENTPutProtectedData", "CMSReleaseKeyPair", "CMSReleaseBuffer",
          "CMSReleaseCertTempl", "CMSReleaseReqHdl", "CMSLogout"}));
  EXPECT_EQ(journal.Of("CMSLogin")[0],
            "CMSLogin \"FAKE-CMS 1.0\" crypto=0 credentials=null reserved=null");
  EXPECT_EQ(journal.Of("ini-bytes")[0], "ini-bytes " + HexOf(kIniFor));
  EXPECT_NE(journal.Of("CMSCreateReqHdl")[0].find(" type=0"), std::string::npos);
  EXPECT_NE(journal.Of("CMSRequestMyCertificate")[0].find(" null"), std::string::npos);
  EXPECT_NE(journal.Of("CMSRetrieveMyCertificate")[0].find(
                "keypair-words=0,0,0,0,0, kind=2 cert=0/null status-out=set"),
            std::string::npos);

  // Both certificates went to one new owner-only .DER file, protected by the
  // reference number; it is all that is left in the temporary directory.
  const std::vector<std::string> files = tmp_.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].substr(0, 3), "ENT");
  EXPECT_EQ(files[0].substr(files[0].size() - 4), ".DER");
  EXPECT_EQ(FileMode(tmp_.path() + "/" + files[0]), 0600);
  const std::string path = "\"" + tmp_.path() + "/" + files[0] + "\"";
  const auto puts = journal.Of("ENTPutProtectedData");
  EXPECT_EQ(puts[0], "ENTPutProtectedData " + path +
                         " \"CA Verification Certificate\" \"17\" len=" +
                         std::to_string(kCaCert.size()) + " hex=" + HexOf(kCaCert));
  EXPECT_EQ(puts[1], "ENTPutProtectedData " + path + " \"Verification Certificate\" \"17\" len=" +
                         std::to_string(kUserCert.size()) + " hex=" + HexOf(kUserCert));
}

TEST_F(CmsEnrollment, RequestAttributesAndTemplateFieldAreSentExactly) {
  ASSERT_EQ(Enroll(), 0);
  const auto attributes = Calls().Of("CMSSetReqAttrib");
  ASSERT_EQ(attributes.size(), 4u);
  EXPECT_NE(attributes[0].find("attr=0 kind=1 len=9 text=\"AUTH-CODE\""), std::string::npos);
  EXPECT_NE(attributes[1].find("attr=1 kind=1 len=2 text=\"17\""), std::string::npos);
  EXPECT_NE(attributes[2].find("attr=2 kind=2 len=4 int=1"), std::string::npos);
  EXPECT_NE(attributes[3].find("attr=15 kind=4 len=5 hex=3003020107"), std::string::npos);
  EXPECT_NE(Calls().Of("CMSSetCertFieldValue")[0].find("field=0 kind=2 len=4 int=2"),
            std::string::npos);
}

TEST_F(CmsEnrollment, PublishFlagIsSentAsOneOrZeroAndEmptyValuesStillGo) {
  for (int flag : {7, -1, 0}) {
    SCOPED_TRACE(flag);
    FakeCms_Reset();
    CQnPMCrtUsrEntCms record("", "ca.test", "dir.test", "", "", flag, nullptr, 0);
    ASSERT_EQ(agent_.CreateUserCertificate(&certificate_, length_, &record), 0);
    delete[] certificate_;
    certificate_ = nullptr;
    unsigned int ca_length;
    delete[] record.GetRawCACertificate(ca_length);
    const auto attributes = Calls().Of("CMSSetReqAttrib");
    ASSERT_EQ(attributes.size(), 4u);
    EXPECT_NE(attributes[0].find("attr=0 kind=1 len=0 text=\"\""), std::string::npos);
    EXPECT_NE(attributes[1].find("attr=1 kind=1 len=0 text=\"\""), std::string::npos);
    EXPECT_NE(attributes[2].find(flag ? "int=1" : "int=0"), std::string::npos);
    EXPECT_NE(attributes[3].find("attr=15 kind=4 len=0 ptr=null"), std::string::npos);
  }
}

TEST_F(CmsEnrollment, EachFailingStepGivesItsMessageAndReleasesWhatWasMadeBeforeIt) {
  struct Case {
    const char* entry;
    int message;
    std::vector<std::string> cleanup;
  };
  const std::vector<std::string> all = {"CMSReleaseCertTempl", "CMSReleaseReqHdl", "CMSLogout"};
  const Case cases[] = {
      {"CMSLogin", 52003, {}},
      {"CMSCreateReqHdl", 52004, {"CMSLogout"}},
      {"CMSCreateCertTempl", 52005, {"CMSReleaseReqHdl", "CMSLogout"}},
      {"CMSSetReqAttrib", 52006, all},
      {"CMSSetCertFieldValue", 52007, all},
      {"CMSRequestMyCertificate", 52008, all},
      {"CMSRetrieveMyCertificate", 52009, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    FakeCms_Reset();
    SetCertificates(kUserCert, kCaCert);
    FakeCms_SetStatus(c.entry, 900);
    FakeCms_SetLogText(900, "toolkit says no");
    FakeCms_SetReason(5, "authorisation code does not match reference number 17");

    EXPECT_EQ(Enroll(), c.message);
    EXPECT_EQ(certificate_, nullptr);
    EXPECT_EQ(length_, 0u);
    unsigned int ca_length = 99;
    EXPECT_EQ(record_.GetRawCACertificate(ca_length), nullptr);
    EXPECT_EQ(ca_length, 0u);
    CString text;
    text.LoadString(static_cast<unsigned int>(c.message));
    EXPECT_EQ(agent_.GetErrorString(), text);
    // A failed login leaves no handle, so there is nobody to ask for a reason.
    EXPECT_EQ(agent_.GetExtendedErrorString(),
              c.message == 52003 ? ""
                                 : "Request to Entrust failed due to the following reason:(5) "
                                   "authorisation code does not match reference number 17\n");
    const Journal journal = Calls();
    EXPECT_EQ(CleanupCalls(journal), c.cleanup);
    EXPECT_TRUE(journal.Of("ENTPutProtectedData").empty());
    EXPECT_TRUE(tmp_.Files().empty()) << "the INI file must be gone";
  }
}

TEST_F(CmsEnrollment, AttributesStopAtTheFirstRefusal) {
  FakeCms_SetAttribStatus(0, 900);
  EXPECT_EQ(Enroll(), 52006);
  const auto attributes = Calls().Of("CMSSetReqAttrib");
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_NE(attributes[0].find("attr=0"), std::string::npos);
  EXPECT_TRUE(Calls().Of("CMSSetCertFieldValue").empty());
}

TEST_F(CmsEnrollment, AWarningCountsAsSuccessAndTheResultClearsItsText) {
  FakeCms_SetStatus("CMSRequestMyCertificate", 77);
  FakeCms_SetWarning(77);
  FakeCms_SetLogText(77, "validity shortened to the CA's own");
  ASSERT_EQ(Enroll(), 0);
  EXPECT_EQ(Bytes(certificate_, length_), kUserCert);
  EXPECT_TRUE(agent_.GetErrorString().IsEmpty());
  EXPECT_TRUE(Calls().Of("ENTGetEntErr").empty());
}

TEST_F(CmsEnrollment, NoReasonFromTheToolkitLeavesTheExtendedErrorEmpty) {
  FakeCms_SetStatus("CMSRequestMyCertificate", 900);
  FakeCms_SetLogText(900, nullptr);
  EXPECT_EQ(Enroll(), 52008);
  EXPECT_EQ(Calls().Of("ENTGetEntErr").size(), 1u);
  EXPECT_TRUE(agent_.GetExtendedErrorString().IsEmpty());
}

TEST_F(CmsEnrollment, EmptyCertificatesAreASuccessWithNullBuffers) {
  SetCertificates("", "");
  ASSERT_EQ(Enroll(), 0);
  EXPECT_EQ(certificate_, nullptr);
  EXPECT_EQ(length_, 0u);
  unsigned int ca_length = 99;
  EXPECT_EQ(record_.GetRawCACertificate(ca_length), nullptr);
  EXPECT_EQ(ca_length, 0u);
}

TEST_F(CmsEnrollment, ALengthWithoutBytesIsARetrievalFailureNotAnEmptyCertificate) {
  FakeCms_SetLengthWithoutBytes(64);
  EXPECT_EQ(Enroll(), 52009);
  EXPECT_EQ(certificate_, nullptr);
  EXPECT_EQ(length_, 0u);
  const Journal journal = Calls();
  EXPECT_EQ(CleanupCalls(journal),
            (std::vector<std::string>{"CMSReleaseKeyPair", "CMSReleaseBuffer",
                                      "CMSReleaseCertTempl", "CMSReleaseReqHdl", "CMSLogout"}));
  EXPECT_TRUE(journal.Of("ENTPutProtectedData").empty());
  EXPECT_TRUE(tmp_.Files().empty());
}

TEST_F(CmsEnrollment, ARequestLengthWithoutBytesIsSentAsEmpty) {
  record_.SetPKCS10Req(40, nullptr);
  ASSERT_EQ(Enroll(), 0);
  EXPECT_NE(Calls().Of("CMSSetReqAttrib")[3].find("attr=15 kind=4 len=0 ptr=null"),
            std::string::npos);
}

TEST_F(CmsEnrollment, RecordsThatAreNotCmsRequestsAreRefusedWithoutAToolkitCall) {
  FakeCms_SetStatus("CMSLogin", 900);
  ASSERT_EQ(Enroll(), 52003);  // leaves an extended error of "" and a text
  agent_.LogIn(nullptr);
  CQnPMCrtUsrEntIPSec ipsec;
  CQnPMCrtUsrNetscape netscape;
  CQnPMCrtUsrData plain;
  CQnPMCrtUsrData typed_as_ipsec(2, 0);
  CQnPMCrtUsrData typed_as_cms(4, 0);  // claims the type but lacks the members
  FakeCms_Reset();
  for (CQnPMCrtUsrData* record : std::vector<CQnPMCrtUsrData*>{nullptr, &ipsec, &netscape, &plain,
                                                               &typed_as_ipsec, &typed_as_cms}) {
    unsigned char sentinel = 0;
    certificate_ = &sentinel;
    length_ = 7;
    EXPECT_EQ(agent_.CreateUserCertificate(&certificate_, length_, record), 51000);
    EXPECT_EQ(certificate_, nullptr);
    EXPECT_EQ(length_, 0u);
    EXPECT_EQ(agent_.GetErrorString(), "Certificate Service is not avaliable");
  }
  EXPECT_EQ(std::string(FakeCms_Journal()), "");
  EXPECT_EQ(agent_.CreateUserCertificate(nullptr, length_, &record_), 51000);
}

TEST_F(CmsEnrollment, ExtendedErrorOfARefusedRecordKeepsTheEarlierReason) {
  FakeCms_SetStatus("CMSRequestMyCertificate", 900);
  FakeCms_SetReason(3, "reference number 17 already used");
  ASSERT_EQ(Enroll(), 52008);
  const CString reason = agent_.GetExtendedErrorString();
  EXPECT_NE(std::string(reason).find("(3) reference number 17 already used\n"), std::string::npos);
  EXPECT_EQ(agent_.CreateUserCertificate(&certificate_, length_, nullptr), 51000);
  EXPECT_EQ(agent_.GetExtendedErrorString(), reason);
  FakeCms_Reset();
  SetCertificates(kUserCert, kCaCert);
  ASSERT_EQ(Enroll(), 0);
  EXPECT_TRUE(agent_.GetExtendedErrorString().IsEmpty());
  EXPECT_TRUE(agent_.GetErrorString().IsEmpty());
}

TEST_F(CmsEnrollment, IniFileProblemsGive52010WithoutTouchingTheToolkit) {
  CQnPMCrtUsrEntCms injected("", "ca\nClientType=Light", "dir", "A", "1", 1, nullptr, 0);
  EXPECT_EQ(agent_.CreateUserCertificate(&certificate_, length_, &injected), 52010);
  EXPECT_EQ(agent_.GetErrorString(), "Failed to Create Entrust INI file");
  EXPECT_TRUE(agent_.GetExtendedErrorString().IsEmpty());
  EXPECT_EQ(std::string(FakeCms_Journal()), "");
  EXPECT_TRUE(tmp_.Files().empty());
}

TEST_F(CmsEnrollment, TwoEnrollmentsWithOneRecordLeaveTheFirstCaBufferToTheHost) {
  ASSERT_EQ(Enroll(), 0);
  unsigned int first_length = 0;
  unsigned char* first = record_.GetRawCACertificate(first_length);
  delete[] certificate_;
  certificate_ = nullptr;
  ASSERT_EQ(Enroll(), 0);
  unsigned int second_length = 0;
  EXPECT_NE(record_.GetRawCACertificate(second_length), first);
  EXPECT_EQ(Bytes(first, first_length), kCaCert);  // still valid: the host's
  delete[] first;
}

class ProtectedData : public CmsEnrollment {};

TEST_F(ProtectedData, RoundTripGivesAnIndependentCopy) {
  unsigned char secret[] = {1, 2, 3, 0, 4};
  agent_.PutToProtectedFile("label", secret, sizeof secret, "/p/file.DER", "guard");
  unsigned char* data = nullptr;
  unsigned int length = 0;
  agent_.GetFromProtectedFile("label", "/p/file.DER", "guard", &data, length);
  ASSERT_EQ(length, sizeof secret);
  EXPECT_EQ(Bytes(data, length), Bytes(secret, sizeof secret));
  EXPECT_NE(data, secret);
  delete[] data;
  const Journal journal = Calls();
  EXPECT_EQ(journal.Of("ENTPutProtectedData")[0],
            "ENTPutProtectedData \"/p/file.DER\" \"label\" \"guard\" len=5 hex=0102030004");
  EXPECT_EQ(journal.Of("ENTGetProtectedData")[0],
            "ENTGetProtectedData \"/p/file.DER\" \"label\" \"guard\"");
}

TEST_F(ProtectedData, MissingEmptyOrUnreadableItemsGiveNullAndZero) {
  unsigned char byte = 9;
  agent_.PutToProtectedFile("empty", &byte, 0, "/p", "x");
  EXPECT_NE(Calls().Of("ENTPutProtectedData")[0].find("len=0"), std::string::npos);
  for (const char* label : {"empty", "missing"}) {
    unsigned char* data = &byte;
    unsigned int length = 5;
    agent_.GetFromProtectedFile(label, "/p", "x", &data, length);
    EXPECT_EQ(data, nullptr) << label;
    EXPECT_EQ(length, 0u) << label;
  }
  // A toolkit that fails without filling its record: nothing unset is used.
  FakeCms_SetGetProtectedFailure(12);
  unsigned char* data = &byte;
  unsigned int length = 5;
  agent_.GetFromProtectedFile("empty", "/p", "x", &data, length);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0u);
}

}  // namespace
