// What every agent class shares: its two strings, LogIn and LogOut, copying,
// assignment and destruction as a host does them.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include "seeded_agent.h"
#include "tests/counted.h"
#include "tests/type_names.h"

namespace {

using veskar_test::kNotAvailable;
using veskar_test::Seeded;

// Longer than any small-string buffer, so a copy sharing storage or a skipped
// destructor shows up (the latter also to the leak checker).
constexpr char kError[] = "an earlier failure, long enough to need heap storage";
constexpr char kReason[] = "Request to Entrust failed due to the following reason:(7) none\n";

template <class Agent>
class AgentTest : public ::testing::Test {};
using AgentClasses = ::testing::Types<CQnPkiMsgAgent, CQnEntCmsPMA, CQnEntIPSecPMA, CQnNetscapePMA>;
TYPED_TEST_SUITE(AgentTest, AgentClasses, veskar_test::TypeIndexNames);

TYPED_TEST(AgentTest, StartsWithEmptyStrings) {
  TypeParam agent;
  EXPECT_STREQ(agent.GetErrorString(), "");
  EXPECT_STREQ(agent.GetExtendedErrorString(), "");
}

TYPED_TEST(AgentTest, LogInRefusesWithTheServiceMessage) {
  int parameters = 42;
  for (void* argument : {static_cast<void*>(nullptr), static_cast<void*>(&parameters)}) {
    Seeded<TypeParam> agent(kError, kReason);
    CQnPkiMsgAgent& as_base = agent;
    EXPECT_EQ(as_base.LogIn(argument), nullptr);
    // The whole earlier text is replaced; the toolkit reason is left alone.
    EXPECT_STREQ(agent.GetErrorString(), kNotAvailable);
    EXPECT_STREQ(agent.GetExtendedErrorString(), kReason);
  }
  EXPECT_EQ(parameters, 42);
}

TYPED_TEST(AgentTest, LogOutChangesNothing) {
  int session = 42;
  Seeded<TypeParam> agent(kError, kReason);
  CQnPkiMsgAgent& as_base = agent;
  as_base.LogOut(nullptr);
  as_base.LogOut(&session);
  EXPECT_STREQ(agent.GetErrorString(), kError);
  EXPECT_STREQ(agent.GetExtendedErrorString(), kReason);
  EXPECT_EQ(session, 42);

  TypeParam fresh;
  fresh.LogOut(nullptr);
  EXPECT_STREQ(fresh.GetErrorString(), "");
}

TYPED_TEST(AgentTest, CopyAfterAFailureHasBothStringsAndIsIndependent) {
  Seeded<TypeParam> failed(kError, kReason);
  TypeParam copy(failed);
  EXPECT_STREQ(copy.GetErrorString(), kError);
  EXPECT_STREQ(copy.GetExtendedErrorString(), kReason);

  failed.Seed("", "");
  EXPECT_STREQ(copy.GetErrorString(), kError);
  EXPECT_STREQ(copy.GetExtendedErrorString(), kReason);

  copy.LogIn(nullptr);
  EXPECT_STREQ(failed.GetErrorString(), "");
}

TYPED_TEST(AgentTest, AssignmentAfterAFailureCopiesBothStringsAndReturnsTheTarget) {
  Seeded<TypeParam> failed(kError, kReason);
  TypeParam target;
  target.LogIn(nullptr);
  TypeParam& result = (target = failed);
  EXPECT_EQ(&result, &target);
  EXPECT_STREQ(target.GetErrorString(), kError);
  EXPECT_STREQ(target.GetExtendedErrorString(), kReason);

  failed.LogIn(nullptr);
  EXPECT_STREQ(target.GetErrorString(), kError);

  TypeParam& same = target;
  target = same;
  EXPECT_STREQ(target.GetErrorString(), kError);
  EXPECT_STREQ(target.GetExtendedErrorString(), kReason);
}

template <class Agent>
using CountedAgent = veskar_test::Counted<Seeded<Agent>>;

TYPED_TEST(AgentTest, DeletionThroughTheBaseAndAsArrays) {
  CountedAgent<TypeParam>::destroyed = 0;
  auto* counted = new CountedAgent<TypeParam>();
  counted->Seed(kError, kReason);
  CQnPkiMsgAgent* as_base = counted;
  delete as_base;
  EXPECT_EQ(CountedAgent<TypeParam>::destroyed, 1);

  constexpr int kCount = 3;
  auto* agents = new CountedAgent<TypeParam>[kCount];
  for (int i = 0; i < kCount; ++i) agents[i].Seed(kError, kReason);
  delete[] agents;
  EXPECT_EQ(CountedAgent<TypeParam>::destroyed, 1 + kCount);

  // The classes themselves, as a host would use them.
  auto* plain = new TypeParam[kCount];
  for (int i = 0; i < kCount; ++i) {
    EXPECT_STREQ(plain[i].GetErrorString(), "");
    plain[i].LogIn(nullptr);
  }
  EXPECT_STREQ(plain[kCount - 1].GetErrorString(), kNotAvailable);
  delete[] plain;
}

}  // namespace
