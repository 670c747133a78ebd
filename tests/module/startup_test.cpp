// Start-up as a host sees it. Each suite is one start-up scenario and runs in
// a process of its own, with the loader's search path (LD_LIBRARY_PATH, or
// PATH on Windows) naming the fake toolkits of the scenario (see
// CMakeLists.txt).

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <string>

#include "module/toolkit_slots.h"
#include "support/loaded_toolkit.h"

namespace {

void ExpectSlotsMatchExports(const std::vector<CmsSlots::Slot>& slots, void* module,
                             size_t bound_count) {
  for (size_t i = 0; i < slots.size(); ++i) {
    SCOPED_TRACE(slots[i].name);
    if (i < bound_count) {
      void* exported = ExportedEntry(module, slots[i].name);
      ASSERT_NE(exported, nullptr);
      EXPECT_EQ(slots[i].address, exported);
    } else {
      EXPECT_EQ(slots[i].address, nullptr);
    }
  }
}

void ExpectNoSlotBound(const std::vector<CmsSlots::Slot>& slots) {
  for (const auto& slot : slots) EXPECT_EQ(slot.address, nullptr) << slot.name;
}

std::vector<ToolkitSlot> IpsecSlotsAsCms() { return IpsecSlots::All(); }

void ExpectCmsRequestRefused() {
  CQnEntCmsPMA agent;
  CQnPMCrtUsrEntCms record;
  unsigned char* certificate = reinterpret_cast<unsigned char*>(&agent);
  unsigned int length = 99;
  EXPECT_EQ(agent.CreateUserCertificate(&certificate, length, &record), 51000);
  EXPECT_EQ(agent.GetErrorString(), "Certificate Service is not avaliable");
}

TEST(StartupNoToolkit, MaskIsNetscapeOnlyAndNothingIsBound) {
  EXPECT_EQ(GetAvaliableServices(), 1);
  EXPECT_EQ(CQnPkiMsgAgent::GetPkiMsgAvaliableServices(), 1);
  EXPECT_EQ(CmsSlots::Loaded(), 0);
  EXPECT_EQ(IpsecSlots::Loaded(), 0);
  ExpectNoSlotBound(CmsSlots::All());
  ExpectNoSlotBound(IpsecSlotsAsCms());
}

TEST(StartupNoToolkit, ConstructingCmsAgentsBindsNothing) {
  for (int i = 0; i < 3; ++i) CQnEntCmsPMA agent;
  CmsSlots::Initialization();
  EXPECT_EQ(CmsSlots::LoadFunctions(), 0);
  EXPECT_EQ(CmsSlots::Loaded(), 0);
  ExpectNoSlotBound(CmsSlots::All());
  ExpectCmsRequestRefused();
}

TEST(StartupCmsOnly, MaskIsFiveAndEverySlotIsBound) {
  EXPECT_EQ(GetAvaliableServices(), 5);
  EXPECT_EQ(CmsSlots::Loaded(), 1);
  EXPECT_EQ(IpsecSlots::Loaded(), 0);
  void* module = LoadedToolkit("cmsapi32");
  ASSERT_NE(module, nullptr);
  ExpectSlotsMatchExports(CmsSlots::All(), module, 20);
  ExpectNoSlotBound(IpsecSlotsAsCms());
  ReleaseLoadedToolkit(module);
}

TEST(StartupCmsOnly, RebindingLeavesFlagAndSlotsAsTheyWere) {
  const auto before = CmsSlots::All();
  for (int i = 0; i < 5; ++i) {
    CQnEntCmsPMA agent;
    CQnEntCmsPMA copy(agent);  // copies never rebind, but must not disturb either
    EXPECT_EQ(CmsSlots::Loaded(), 1);
  }
  CmsSlots::Initialization();
  EXPECT_EQ(CmsSlots::Loaded(), 1);
  const auto after = CmsSlots::All();
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(before[i].address, after[i].address);
}

TEST(StartupIpsecOnly, MaskIsThreeAndEverySlotIsBound) {
  EXPECT_EQ(GetAvaliableServices(), 3);
  EXPECT_EQ(IpsecSlots::Loaded(), 1);
  EXPECT_EQ(CmsSlots::Loaded(), 0);
  void* module = LoadedToolkit("kmpapi32");
  ASSERT_NE(module, nullptr);
  ExpectSlotsMatchExports(IpsecSlotsAsCms(), module, 6);
  IpsecSlots::Initialization();
  EXPECT_EQ(IpsecSlots::Loaded(), 1);
  ReleaseLoadedToolkit(module);
}

TEST(StartupBoth, MaskIsSeven) {
  EXPECT_EQ(GetAvaliableServices(), 7);
  EXPECT_EQ(CQnPkiMsgAgent::GetPkiMsgAvaliableServices(), 7);
  EXPECT_EQ(CmsSlots::Loaded(), 1);
  EXPECT_EQ(IpsecSlots::Loaded(), 1);
}

TEST(StartupCmsLackingLastEntry, SlotsBeforeItAreBoundButFlagIsClear) {
  EXPECT_EQ(GetAvaliableServices(), 5);
  EXPECT_EQ(CmsSlots::Loaded(), 0);
  void* module = LoadedToolkit("cmsapi32");
  ASSERT_NE(module, nullptr);
  ExpectSlotsMatchExports(CmsSlots::All(), module, 19);
  CQnEntCmsPMA agent;  // rebinding finds the same gap
  EXPECT_EQ(CmsSlots::Loaded(), 0);
  ExpectCmsRequestRefused();
  ReleaseLoadedToolkit(module);
}

TEST(StartupCmsLackingUnusedEntry, FlagIsClearAndRequestsAreRefused) {
  EXPECT_EQ(GetAvaliableServices(), 5);
  EXPECT_EQ(CmsSlots::Loaded(), 0);
  for (const auto& slot : CmsSlots::All()) {
    EXPECT_EQ(slot.address == nullptr, std::string(slot.name) == "CMSGetLogString") << slot.name;
  }
  ExpectCmsRequestRefused();
}

TEST(StartupIpsecLackingLogin, BindingStopsAtTheMissingEntry) {
  EXPECT_EQ(GetAvaliableServices(), 3);
  EXPECT_EQ(IpsecSlots::Loaded(), 0);
  void* module = LoadedToolkit("kmpapi32");
  ASSERT_NE(module, nullptr);
  ExpectSlotsMatchExports(IpsecSlotsAsCms(), module, 2);
  ReleaseLoadedToolkit(module);
}

}  // namespace
