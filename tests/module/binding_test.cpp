// The entry routine and the binders against a recording platform layer: the
// exact names asked for, their order, and the binding rules of each toolkit.

#include <gtest/gtest.h>
#include <veskar/services.h>

#include <string>
#include <vector>

#include "module/library_entry.h"
#include "module/toolkit_slots.h"
#include "platform/env.h"

namespace {

const std::vector<std::string> kCmsNames = {"_CMSQueryLogWarning@4",
                                            "_CMSQueryVersionNumber@0",
                                            "_CMSLogin@24",
                                            "_CMSLogout@4",
                                            "_CMSRequestMyCertificate@16",
                                            "_CMSRetrieveMyCertificate@20",
                                            "_CMSCreateReqHdl@12",
                                            "_CMSReleaseReqHdl@8",
                                            "_CMSSetReqAttrib@16",
                                            "_CMSCreateCertTempl@8",
                                            "_CMSReleaseCertTempl@8",
                                            "_CMSSetCertFieldValue@16",
                                            "_CMSReleaseBuffer@4",
                                            "_CMSReleaseKeyPair@4",
                                            "_CMSGetLogString@8",
                                            "_CMSLogToString@4",
                                            "_ENTGetEntErr@8",
                                            "_ENTGetCertReqModStr@8",
                                            "_ENTGetProtectedData@16",
                                            "_ENTPutProtectedData@16"};
const std::vector<std::string> kIpsecNames = {
    "_IKMPCreateUser@24", "_IKMPGetErrString@4", "_IKMPLogin@28", "_IKMPGetMyVerifyCertificate@20",
    "_IKMPLogout@4",      "_IKMPGetEPFName@8"};

// Pretends to load the toolkits it is told about; every entry point resolves
// to a distinct fake address unless it is listed as missing.
class RecordingEnv : public veskar::EnvWrapper {
 public:
  RecordingEnv() : EnvWrapper(veskar::Env::Default()) {}

  void* LoadModule(const char* name) override {
    calls.push_back(std::string("load ") + name);
    if (name == std::string("cmsapi32") && cms_present) return &cms_module;
    if (name == std::string("kmpapi32") && kmp_present) return &kmp_module;
    return nullptr;
  }
  void FreeModule(void* module) override {
    calls.push_back(module == &cms_module ? "free cmsapi32" : "free kmpapi32");
  }
  void* FindEntry(void* module, const char* name) override {
    calls.push_back(std::string("find ") + name);
    if (missing == name) return nullptr;
    return static_cast<char*>(module) + 1 + calls.size();
  }

  bool cms_present = true;
  bool kmp_present = true;
  std::string missing;
  std::vector<std::string> calls;
  char cms_module = 0;
  char kmp_module = 0;
};

class Binding : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = veskar::SetEnvForTesting(&env_); }
  void TearDown() override {
    veskar::LibraryEntry(nullptr, veskar::kProcessDetach);
    veskar::SetEnvForTesting(previous_);
  }

  std::vector<std::string> Expected(bool cms, bool kmp, size_t ipsec_lookups = 6) {
    std::vector<std::string> calls = {"load cmsapi32"};
    if (cms) {
      for (const auto& name : kCmsNames) calls.push_back("find " + name);
    }
    calls.push_back("load kmpapi32");
    if (kmp) {
      for (size_t i = 0; i < ipsec_lookups; ++i) calls.push_back("find " + kIpsecNames[i]);
    }
    return calls;
  }

  RecordingEnv env_;
  veskar::Env* previous_ = nullptr;
};

TEST_F(Binding, AttachAsksForEveryDecoratedNameInTableOrder) {
  ASSERT_EQ(veskar::LibraryEntry(nullptr, veskar::kProcessAttach), 1);
  EXPECT_EQ(env_.calls, Expected(true, true));
  EXPECT_EQ(GetAvaliableServices(), 7);
  EXPECT_EQ(CmsSlots::Loaded(), 1);
  EXPECT_EQ(IpsecSlots::Loaded(), 1);
}

TEST_F(Binding, MissingToolkitsAreNotBoundAndClearTheirBits) {
  struct Case {
    bool cms, kmp;
    int mask;
  };
  for (const Case& c : {Case{false, false, 1}, Case{true, false, 5}, Case{false, true, 3}}) {
    env_.cms_present = c.cms;
    env_.kmp_present = c.kmp;
    env_.calls.clear();
    ASSERT_EQ(veskar::LibraryEntry(nullptr, veskar::kProcessAttach), 1);
    EXPECT_EQ(env_.calls, Expected(c.cms, c.kmp));
    EXPECT_EQ(GetAvaliableServices(), c.mask);
    veskar::LibraryEntry(nullptr, veskar::kProcessDetach);
  }
}

TEST_F(Binding, CmsLooksUpEveryNameEvenAfterAMissingOne) {
  env_.missing = "_CMSLogin@24";
  veskar::LibraryEntry(nullptr, veskar::kProcessAttach);
  EXPECT_EQ(env_.calls, Expected(true, true));
  EXPECT_EQ(CmsSlots::Loaded(), 0);
  const auto slots = CmsSlots::All();
  for (size_t i = 0; i < slots.size(); ++i) {
    EXPECT_EQ(slots[i].address == nullptr, i == 2) << slots[i].name;
  }
  EXPECT_EQ(GetAvaliableServices(), 7);
}

TEST_F(Binding, IpsecStopsAtTheFirstMissingName) {
  env_.missing = "_IKMPLogin@28";
  veskar::LibraryEntry(nullptr, veskar::kProcessAttach);
  EXPECT_EQ(env_.calls, Expected(true, true, 3));
  EXPECT_EQ(IpsecSlots::Loaded(), 0);
}

TEST_F(Binding, DetachReleasesCmsFirstAndKeepsSlotsAndFlags) {
  veskar::LibraryEntry(nullptr, veskar::kProcessAttach);
  const auto slots = CmsSlots::All();
  env_.calls.clear();
  ASSERT_EQ(veskar::LibraryEntry(nullptr, veskar::kProcessDetach), 1);
  EXPECT_EQ(env_.calls, (std::vector<std::string>{"free cmsapi32", "free kmpapi32"}));
  EXPECT_EQ(GetAvaliableServices(), 1);
  EXPECT_EQ(CmsSlots::Loaded(), 1);
  EXPECT_EQ(CmsSlots::All()[2].address, slots[2].address);
  // With the module gone, a new agent's rebinding finds nothing and says so.
  env_.calls.clear();
  CQnEntCmsPMA agent;
  EXPECT_TRUE(env_.calls.empty());
  EXPECT_EQ(CmsSlots::Loaded(), 0);
}

TEST_F(Binding, ThreadNotificationsChangeNothing) {
  veskar::LibraryEntry(nullptr, veskar::kProcessAttach);
  env_.calls.clear();
  EXPECT_EQ(veskar::LibraryEntry(nullptr, veskar::kThreadAttach), 1);
  EXPECT_EQ(veskar::LibraryEntry(nullptr, veskar::kThreadDetach), 1);
  EXPECT_TRUE(env_.calls.empty());
  EXPECT_EQ(GetAvaliableServices(), 7);
}

}  // namespace
