// The CA folder after a writer died: what interrupted writes leave is taken
// away by the next writer, and the register always reads.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "ca/local_ca.h"
#include "pki/files.h"
#include "test_pki.h"

namespace veskar::ca {
namespace {

using toolkit_test::TestCa;
using toolkit_test::WriteFile;

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Names "<something>.XXXXXX" as the atomic writer leaves them.
int TemporaryFileCount(const std::string& folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename();
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && pki::IsTemporarySuffix(name.substr(dot + 1))) ++count;
  }
  return count;
}

TEST(LocalCaRecoveryTest, NextWriterRemovesOnlyWhatInterruptedWritesLeft) {
  TestCa test_ca;
  const std::string& ca = test_ca.directory;
  const std::string stale[] = {ca + "/register.txt.Ab12Cd", ca + "/issued/1A2B3C.pem.x9Y8z7"};
  const std::string kept[] = {
      ca + "/register.txt.old",         // not a temporary name
      ca + "/notes.txt.Ab12Cd",         // another file's
      ca + "/issued/1A2B3C.pem.x9Y8z",  // five characters
      ca + "/issued/zz.pem.x9Y8z7",     // not a serial
      ca + "/register.txt.Link00",      // a link, not a file
  };
  for (const std::string& path : stale) WriteFile(path, "half");
  for (size_t i = 0; i + 1 < std::size(kept); ++i) WriteFile(kept[i], "keep");
  ASSERT_EQ(symlink((ca + "/ca.pem").c_str(), kept[std::size(kept) - 1].c_str()), 0);

  // Reading does not sweep; tidying does.
  std::vector<RegisteredUser> users;
  ASSERT_TRUE(test_ca.ca->ListUsers(&users).ok());
  test_ca.AddUser("CN=Next");
  EXPECT_TRUE(Exists(stale[0]));
  ASSERT_TRUE(test_ca.ca->Tidy().ok());
  for (const std::string& path : stale) EXPECT_FALSE(Exists(path)) << path;
  for (const std::string& path : kept) EXPECT_TRUE(Exists(path)) << path;
}

// A writer killed at random points never leaves a register that does not
// read, and what it left is gone after the next change.
TEST(LocalCaRecoveryTest, RegisterSurvivesWritersKilledAtRandomPoints) {
  TestCa test_ca;
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 12; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::unique_ptr<LocalCa> ca;
      if (!LocalCa::Open(test_ca.directory, &ca).ok()) _exit(3);
      for (int i = 0;; ++i) {
        RegisteredUser added;
        if (!ca->AddUser("CN=Crash " + std::to_string(i), &added).ok()) _exit(4);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own: " << WEXITSTATUS(status);
    std::vector<RegisteredUser> users;
    const CaStatus read = test_ca.ca->ListUsers(&users);
    ASSERT_TRUE(read.ok()) << read.message;
  }
  test_ca.AddUser("CN=After");
  EXPECT_EQ(TemporaryFileCount(test_ca.directory), 0);
}

}  // namespace
}  // namespace veskar::ca
