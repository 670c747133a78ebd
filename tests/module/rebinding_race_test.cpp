// Constructing CMS agents on some threads while others read the slots and the
// loaded flag, as running requests do. Meant for ThreadSanitizer: with the
// toolkit unchanged, rebinding writes nothing, so there is nothing to race.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <atomic>
#include <thread>
#include <vector>

#include "module/toolkit_slots.h"

namespace {

TEST(CmsRebindingRace, ConstructionWhileOthersReadSlotsAndFlag) {
  ASSERT_EQ(CmsSlots::Loaded(), 1) << "needs the complete fake CMS toolkit";
  const auto expected = CmsSlots::All();
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};

  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (!stop.load()) {
        if (CmsSlots::Loaded() != 1) ++wrong;
        const auto slots = CmsSlots::All();
        for (size_t i = 0; i < slots.size(); ++i) {
          if (slots[i].address != expected[i].address) ++wrong;
        }
      }
    });
  }
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) CQnEntCmsPMA agent;
    });
  }
  for (size_t t = 3; t < threads.size(); ++t) threads[t].join();
  stop = true;
  for (size_t t = 0; t < 3; ++t) threads[t].join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
