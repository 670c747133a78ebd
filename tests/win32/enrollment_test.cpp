// The CMS and IPSec outcome tables on Windows: Veskar.dll finds the fake
// toolkit DLLs through the DLL search at attach, binds them by the names
// Windows exports, and each failing toolkit step gives its message. The
// fakes are scripted through their control functions, found the same way.

#include "win32/temp_folder.h"
// temp_folder.h brings windows.h first.
#include <veskar/veskar.h>

#include <cstring>
#include <string>

namespace {

// A control function of a loaded fake toolkit, by name.
template <typename Function>
Function* Control(const char* toolkit, const char* name) {
  const HMODULE module = GetModuleHandleA(toolkit);
  return module == nullptr
             ? nullptr
             : reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

using ResetFn = void();
using SetStatusFn = void(const char*, int);
using CountFn = int();
using SetCmsCertificatesFn = void(const unsigned char*, size_t, const unsigned char*, size_t);
using SetKmpCertificatesFn = void(const unsigned char*, size_t, const unsigned char*, size_t,
                                  const unsigned char*, size_t);

const unsigned char kUser[] = {'U', 'S', 'E', 'R'};
const unsigned char kCa[] = {'C', 'A'};

class Win32Enrollment : public ScopedTempFolder {
 protected:
  void SetUp() override {
    ScopedTempFolder::SetUp();
    ASSERT_EQ(GetAvaliableServices(), 7) << "the fake toolkits were not found";
  }
  void TearDown() override {
    delete[] certificate_;
    ScopedTempFolder::TearDown();
  }

  // Runs one request and checks its outcome: the user's certificate on
  // success, else no certificate and the message's text as the error.
  template <typename Agent, typename Record>
  void EnrollAndExpect(Agent& agent, Record& record, int message) {
    EXPECT_EQ(agent.CreateUserCertificate(&certificate_, length_, &record), message);
    if (message == 0) {
      ASSERT_EQ(length_, sizeof kUser);
      EXPECT_EQ(std::memcmp(certificate_, kUser, sizeof kUser), 0);
    } else {
      EXPECT_EQ(certificate_, nullptr);
      CString text;
      ASSERT_TRUE(text.LoadString(static_cast<unsigned int>(message)));
      EXPECT_EQ(std::string(agent.GetErrorString()), std::string(text));
    }
    unsigned int ca_length = 0;
    delete[] record.GetRawCACertificate(ca_length);
    delete[] certificate_;
    certificate_ = nullptr;
  }

  unsigned char* certificate_ = nullptr;
  unsigned int length_ = 0;
};

TEST_F(Win32Enrollment, CmsStepsGiveTheirMessagesAndSuccessHandsOutTheCertificate) {
  auto* reset = Control<ResetFn>("cmsapi32.dll", "FakeCms_Reset");
  auto* set_status = Control<SetStatusFn>("cmsapi32.dll", "FakeCms_SetStatus");
  auto* set_certificates = Control<SetCmsCertificatesFn>("cmsapi32.dll", "FakeCms_SetCertificates");
  auto* outstanding = Control<CountFn>("cmsapi32.dll", "FakeCms_OutstandingBuffers");
  ASSERT_TRUE(reset && set_status && set_certificates && outstanding);
  const struct {
    const char* failing_entry;  // null: nothing fails
    int message;
  } kCases[] = {
      {nullptr, 0},
      {"CMSLogin", 52003},
      {"CMSCreateReqHdl", 52004},
      {"CMSCreateCertTempl", 52005},
      {"CMSSetReqAttrib", 52006},
      {"CMSSetCertFieldValue", 52007},
      {"CMSRequestMyCertificate", 52008},
      {"CMSRetrieveMyCertificate", 52009},
  };
  unsigned char pkcs10[] = {0x30, 0x03, 0x02, 0x01, 0x07};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.failing_entry ? c.failing_entry : "success");
    reset();
    set_certificates(kUser, sizeof kUser, kCa, sizeof kCa);
    if (c.failing_entry != nullptr) set_status(c.failing_entry, 3);
    CQnEntCmsPMA agent;
    CQnPMCrtUsrEntCms record("label", "ca.test", "dir.test", "AUTH", "17", 1, pkcs10,
                             sizeof pkcs10);
    EnrollAndExpect(agent, record, c.message);
    EXPECT_EQ(outstanding(), 0) << "toolkit objects left unreleased";
  }
}

TEST_F(Win32Enrollment, IpsecStepsGiveTheirMessagesAndSuccessHandsOutTheCertificate) {
  auto* reset = Control<ResetFn>("kmpapi32.dll", "FakeKmp_Reset");
  auto* set_status = Control<SetStatusFn>("kmpapi32.dll", "FakeKmp_SetStatus");
  auto* set_certificates = Control<SetKmpCertificatesFn>("kmpapi32.dll", "FakeKmp_SetCertificates");
  ASSERT_TRUE(reset && set_status && set_certificates);
  const struct {
    const char* password;
    const char* profile;
    const char* auth_code;  // with a reference number, creates the user first
    const char* failing_entry;
    int message;
  } kCases[] = {
      {"pw", "p.epf", "", nullptr, 0},
      {"pw", "p.epf", "A", nullptr, 0},
      {"", "", "A", nullptr, 53004},
      {"pw", "", "A", nullptr, 53003},
      {"pw", "p.epf", "A", "IKMPCreateUser", 53002},
      {"pw", "p.epf", "A", "IKMPLogin", 53006},
      {"pw", "p.epf", "", "IKMPGetMyVerifyCertificate", 53007},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.failing_entry ? c.failing_entry : "-") + " auth=" + c.auth_code);
    reset();
    set_certificates(kUser, sizeof kUser, kCa, sizeof kCa, kCa, sizeof kCa);
    if (c.failing_entry != nullptr) set_status(c.failing_entry, 3);
    CQnEntIPSecPMA agent;
    CQnPMCrtUsrEntIPSec record("label", "ca.test", "dir.test", c.password, c.profile, c.auth_code,
                               *c.auth_code ? "1" : "");
    EnrollAndExpect(agent, record, c.message);
  }
}

}  // namespace
