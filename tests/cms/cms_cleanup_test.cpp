// White-box checks of the CMS agent: the status check called directly, and
// clean-up when the platform fails the INI removal or an exception leaves
// the enrollment part-way.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "module/library_entry.h"
#include "platform/env.h"
#include "support/journal.h"
#include "support/temp_dir.h"
#include "testing/fake_cms_control.h"

namespace {

// This copy of the library has no load-time entry: attach by hand, which
// finds the fake toolkit linked into this test.
class Attached : public ::testing::Environment {
 public:
  void SetUp() override { veskar::LibraryEntry(nullptr, veskar::kProcessAttach); }
  void TearDown() override { veskar::LibraryEntry(nullptr, veskar::kProcessDetach); }
};
const auto* const kAttached = ::testing::AddGlobalTestEnvironment(new Attached);

struct Agent : CQnEntCmsPMA {
  using CQnEntCmsPMA::HasError;
  using CQnEntCmsPMA::InitKeyPair;
};

class FaultyEnv : public veskar::EnvWrapper {
 public:
  FaultyEnv() : EnvWrapper(veskar::Env::Default()) { previous_ = veskar::SetEnvForTesting(this); }
  ~FaultyEnv() override { veskar::SetEnvForTesting(previous_); }

  int RemoveFile(const std::string& path) override {
    return fail_remove ? EBUSY : EnvWrapper::RemoveFile(path);
  }
  // The first unique file is the INI file; the second, made after the
  // certificates were retrieved, is the protected-data file.
  int CreateUniqueFile(const std::string& dir, const std::string& prefix,
                       std::string* path) override {
    if (++unique_calls == 2 && throw_on_second_unique) throw std::bad_alloc();
    return EnvWrapper::CreateUniqueFile(dir, prefix, path);
  }

  bool fail_remove = false;
  bool throw_on_second_unique = false;
  int unique_calls = 0;

 private:
  veskar::Env* previous_;
};

class CmsCleanup : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeCms_Reset();
    const std::string user = "user", ca = "ca";
    FakeCms_SetCertificates(reinterpret_cast<const unsigned char*>(user.data()), user.size(),
                            reinterpret_cast<const unsigned char*>(ca.data()), ca.size());
  }
  void TearDown() override { EXPECT_EQ(FakeCms_OutstandingBuffers(), 0); }

  std::vector<std::string> CleanupCalls() {
    std::vector<std::string> out;
    for (const std::string& name : Journal(FakeCms_Journal()).Calls()) {
      if (name.rfind("CMSRelease", 0) == 0 || name == "CMSLogout") out.push_back(name);
    }
    return out;
  }

  ScopedTempDir tmp_;
  Agent agent_;
  CQnPMCrtUsrEntCms record_{"", "ca", "dir", "code", "17", 1, nullptr, 0};
  unsigned char* certificate_ = nullptr;
  unsigned int length_ = 0;
};

TEST_F(CmsCleanup, AnIssuedCertificateSurvivesAnUndeletableIniFile) {
  FaultyEnv env;
  env.fail_remove = true;
  ASSERT_EQ(agent_.CreateUserCertificate(&certificate_, length_, &record_), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(certificate_), length_), "user");
  unsigned int ca_length = 0;
  unsigned char* ca = record_.GetRawCACertificate(ca_length);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ca), ca_length), "ca");
  EXPECT_TRUE(agent_.GetErrorString().IsEmpty());
  delete[] certificate_;
  delete[] ca;
}

TEST_F(CmsCleanup, AFailedRequestStillRaisesTheFileErrorOfTheIniFile) {
  FaultyEnv env;
  env.fail_remove = true;
  FakeCms_SetStatus("CMSCreateReqHdl", 900);
  EXPECT_THROW(agent_.CreateUserCertificate(&certificate_, length_, &record_), CFileException);
  EXPECT_EQ(CleanupCalls(), std::vector<std::string>{"CMSLogout"});
  EXPECT_EQ(certificate_, nullptr);
}

TEST_F(CmsCleanup, AnExceptionUnwindsEveryStepAndReachesTheCaller) {
  for (bool undeletable : {false, true}) {
    SCOPED_TRACE(undeletable);
    FakeCms_Reset();
    const std::string user = "user";
    FakeCms_SetCertificates(reinterpret_cast<const unsigned char*>(user.data()), user.size(),
                            reinterpret_cast<const unsigned char*>(user.data()), user.size());
    FaultyEnv env;
    env.throw_on_second_unique = true;
    env.fail_remove = undeletable;
    // The exception that left the enrollment wins over the file error.
    EXPECT_THROW(agent_.CreateUserCertificate(&certificate_, length_, &record_), std::bad_alloc);
    EXPECT_EQ(CleanupCalls(),
              (std::vector<std::string>{"CMSReleaseKeyPair", "CMSReleaseBuffer",
                                        "CMSReleaseCertTempl", "CMSReleaseReqHdl", "CMSLogout"}));
    EXPECT_EQ(certificate_, nullptr);
    EXPECT_EQ(length_, 0u);
    unsigned int ca_length = 9;
    EXPECT_EQ(record_.GetRawCACertificate(ca_length), nullptr);
    EXPECT_EQ(ca_length, 0u);
    EXPECT_EQ(tmp_.Files().size(), undeletable ? 1u : 0u);
  }
}

TEST_F(CmsCleanup, StatusCheckCases) {
  EXPECT_EQ(agent_.HasError(0, &record_), 0);
  EXPECT_EQ(std::string(FakeCms_Journal()), "");

  // A failure without a login: no reason is asked for and none is kept.
  FakeCms_SetLogText(901, "bad status");
  FakeCms_SetReason(5, "a reason");
  EXPECT_EQ(agent_.HasError(901, nullptr), 1);
  EXPECT_EQ(agent_.GetErrorString(), "bad status");
  EXPECT_TRUE(agent_.GetExtendedErrorString().IsEmpty());
  EXPECT_TRUE(Journal(FakeCms_Journal()).Of("ENTGetEntErr").empty());

  int login = 0;
  EXPECT_EQ(agent_.HasError(901, &login), 1);
  EXPECT_EQ(agent_.GetExtendedErrorString(),
            "Request to Entrust failed due to the following reason:(5) a reason\n");

  // No reason this time: the earlier one stays.
  FakeCms_SetReason(0, "");
  EXPECT_EQ(agent_.HasError(901, &login), 1);
  EXPECT_EQ(agent_.GetExtendedErrorString(),
            "Request to Entrust failed due to the following reason:(5) a reason\n");

  FakeCms_SetWarning(902);
  FakeCms_SetLogText(902, "only a warning");
  EXPECT_EQ(agent_.HasError(902, &login), 0);
  EXPECT_EQ(agent_.GetErrorString(), "only a warning");
}

TEST(CmsKeyPair, IsPreparedAsTheToolkitExpects) {
  Agent agent;
  KeyPair key_pair;
  std::memset(&key_pair, 0xAB, sizeof key_pair);
  agent.InitKeyPair(&key_pair);
  for (uint32_t word : key_pair.words) EXPECT_EQ(word, 0u);
  EXPECT_EQ(key_pair.kind, 2u);
  EXPECT_EQ(key_pair.certificate.length, 0u);
  EXPECT_EQ(key_pair.certificate.data, nullptr);
}

}  // namespace
