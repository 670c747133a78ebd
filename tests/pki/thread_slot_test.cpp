// Per-thread values handed out until the same thread calls again: each
// thread keeps its own, and a thread's value is freed when the thread ends,
// so a host that starts a thread for each request holds none of them.

#include "pki/thread_slot.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace veskar::pki {
namespace {

struct TextTag;
using Texts = ThreadSlot<std::string, TextTag>;

TEST(ThreadSlot, EachThreadKeepsItsOwnValueAndEndingThreadsFreeTheirs) {
  Texts::Mine() = "main";
  const size_t before = Texts::Held();
  std::vector<std::thread> threads;
  std::vector<std::string> seen(64);
  for (size_t round = 0; round < 4; ++round) {
    for (size_t i = 0; i < seen.size() / 4; ++i) {
      const size_t index = round * (seen.size() / 4) + i;
      threads.emplace_back([&seen, index] {
        std::string& mine = Texts::Mine();
        EXPECT_TRUE(mine.empty()) << "a new thread starts with an empty value";
        mine = "thread " + std::to_string(index);
        seen[index] = Texts::Mine();  // the same value again on the next call
      });
    }
    for (std::thread& thread : threads) thread.join();
    threads.clear();
    EXPECT_EQ(Texts::Held(), before) << "after round " << round;
  }
  for (size_t index = 0; index < seen.size(); ++index) {
    EXPECT_EQ(seen[index], "thread " + std::to_string(index));
  }
  EXPECT_EQ(Texts::Mine(), "main");
}

}  // namespace
}  // namespace veskar::pki
