// Enrollments on several threads, each with its own agent, while other
// threads construct CMS agents (which rebind the toolkit). Meant for
// ThreadSanitizer; also checks every enrollment got its own files.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "testing/fake_cms_control.h"

namespace {

TEST(CmsConcurrency, EnrollmentsRunAlongsideAgentConstruction) {
  ScopedTempDir tmp;
  FakeCms_Reset();
  const std::string user = "user-cert", ca = "ca-cert";
  FakeCms_SetCertificates(reinterpret_cast<const unsigned char*>(user.data()), user.size(),
                          reinterpret_cast<const unsigned char*>(ca.data()), ca.size());
  constexpr int kEnrollingThreads = 8;
  constexpr int kEnrollmentsEach = 25;
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};

  std::vector<std::thread> constructors;
  for (int t = 0; t < 2; ++t) {
    constructors.emplace_back([&] {
      while (!done.load()) CQnEntCmsPMA agent;
    });
  }
  std::vector<std::thread> enrolling;
  for (int t = 0; t < kEnrollingThreads; ++t) {
    enrolling.emplace_back([&] {
      CQnEntCmsPMA agent;
      for (int i = 0; i < kEnrollmentsEach; ++i) {
        CQnPMCrtUsrEntCms record("", "ca", "dir", "code", "17", 1, nullptr, 0);
        unsigned char* certificate = nullptr;
        unsigned int length = 0;
        if (agent.CreateUserCertificate(&certificate, length, &record) != 0 ||
            std::string(reinterpret_cast<char*>(certificate), length) != user) {
          ++failures;
        }
        delete[] certificate;
        unsigned int ca_length = 0;
        delete[] record.GetRawCACertificate(ca_length);
      }
    });
  }
  for (auto& thread : enrolling) thread.join();
  done = true;
  for (auto& thread : constructors) thread.join();

  EXPECT_EQ(failures.load(), 0);
  // One protected-data file per enrollment, and no INI file left over.
  const auto files = tmp.Files();
  EXPECT_EQ(files.size(), static_cast<size_t>(kEnrollingThreads * kEnrollmentsEach));
  for (const std::string& name : files) EXPECT_EQ(name.substr(name.size() - 4), ".DER");
  EXPECT_EQ(FakeCms_OutstandingBuffers(), 0);
}

}  // namespace
