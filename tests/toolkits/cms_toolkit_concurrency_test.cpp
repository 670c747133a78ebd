// Enrollments and protected-data writes racing each other: the CA's lock
// and the store's lock keep every result whole.

#include <gtest/gtest.h>
#include <veskar/toolkit/cmsapi32.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "cms_enrollment.h"
#include "standins/cmsapi32/cms_status.h"
#include "test_pki.h"

namespace veskar::cmsapi {
namespace {

using toolkit_test::ParseCertificate;
using toolkit_test::SignedRequest;
using toolkit_test::TestCa;
using toolkit_test::WriteClientIni;

// Enrollments racing with one pair issue exactly one certificate; with
// different pairs every one succeeds with its own serial number.
TEST(CmsConcurrencyTest, OnePairIssuesOnceAndSerialsNeverRepeat) {
  TestCa test_ca;
  const std::string ini = WriteClientIni(test_ca.scratch, test_ca.directory, "");
  pki::EvpPkeyPtr key = pki::NewEcKey();
  constexpr int kPairs = 3;
  constexpr int kAttemptsPerPair = 2;
  std::vector<ca::RegisteredUser> users = {test_ca.user};
  for (int i = 1; i < kPairs; ++i) users.push_back(test_ca.AddUser("CN=User " + std::to_string(i)));
  std::vector<Outcome> outcomes(kPairs * kAttemptsPerPair);
  std::vector<std::thread> threads;
  const toolkit_test::Bytes pkcs10 = SignedRequest(key.get(), "x");
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const ca::RegisteredUser& user = users[i % kPairs];
    threads.emplace_back([&, i, user] {
      outcomes[i] =
          Enroll({ini, user.authorisation_code, std::to_string(user.reference_number), 0, pkcs10});
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<std::string> serials;
  for (int pair = 0; pair < kPairs; ++pair) {
    int issued = 0;
    for (size_t i = pair; i < outcomes.size(); i += kPairs) {
      if (outcomes[i].failed_step.empty()) {
        ++issued;
        serials.push_back(pki::SerialText(ParseCertificate(outcomes[i].certificate).get()));
      } else {
        // Refused when the pair was spent, or at the confirmation when a
        // later request took the pair over.
        EXPECT_TRUE(outcomes[i].status == kCmsAlreadyUsed || outcomes[i].status == kCmsIssueFailed)
            << outcomes[i].status << " " << outcomes[i].reason;
      }
    }
    EXPECT_EQ(issued, 1) << "pair " << pair;
  }
  std::sort(serials.begin(), serials.end());
  EXPECT_EQ(std::unique(serials.begin(), serials.end()), serials.end()) << "a serial repeats";
}

// Writers of different items into one store, each replacing the file, lose
// no one's item.
TEST(CmsConcurrencyTest, ConcurrentPutsKeepEveryItem) {
  toolkit_test::ScratchDir scratch;
  const std::string path = scratch.File("store");
  constexpr int kWriters = 4;
  std::vector<std::thread> threads;
  std::vector<int> statuses(kWriters, -1);
  for (int i = 0; i < kWriters; ++i) {
    threads.emplace_back([&, i] {
      const std::string data = "item " + std::to_string(i);
      CMSBinaryData record{static_cast<uint32_t>(data.size()),
                           reinterpret_cast<unsigned char*>(const_cast<char*>(data.data()))};
      statuses[i] = ENTPutProtectedData(path.c_str(), data.c_str(), "p", &record);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_EQ(statuses[i], kCmsOk);
    const std::string label = "item " + std::to_string(i);
    CMSBinaryData out{};
    ASSERT_EQ(ENTGetProtectedData(path.c_str(), label.c_str(), "p", &out), kCmsOk) << label;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), label);
  }
  EXPECT_EQ(toolkit_test::FileCount(scratch.path()), 1) << "a temporary file was left behind";
}

}  // namespace
}  // namespace veskar::cmsapi
