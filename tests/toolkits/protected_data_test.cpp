// Protected-data files through ENTPutProtectedData and ENTGetProtectedData,
// as the library uses them: an empty owner-only file first, then two items.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <veskar/toolkit/cmsapi32.h>

#include <algorithm>
#include <csignal>
#include <string>

#include "standins/cmsapi32/cms_status.h"
#include "test_pki.h"

namespace veskar::cmsapi {
namespace {

using toolkit_test::Bytes;
using toolkit_test::FileMode;
using toolkit_test::ReadFile;
using toolkit_test::ScratchDir;
using toolkit_test::WriteFile;

constexpr char kUserLabel[] = "Verification Certificate";
constexpr char kCaLabel[] = "CA Verification Certificate";

class ProtectedDataTest : public ::testing::Test {
 protected:
  ProtectedDataTest() : path_(scratch_.File("ENT1234.DER")) {
    const int fd = open(path_.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    EXPECT_GE(fd, 0);
    close(fd);
  }

  static int Put(const std::string& path, const char* label, const char* protection,
                 const std::string& data) {
    CMSBinaryData record{static_cast<uint32_t>(data.size()),
                         reinterpret_cast<unsigned char*>(const_cast<char*>(data.data()))};
    return ENTPutProtectedData(path.c_str(), label, protection, &record);
  }

  // The item's bytes, or the failure status as "status N".
  static std::string Get(const std::string& path, const char* label, const char* protection) {
    CMSBinaryData record{99, reinterpret_cast<unsigned char*>(&record)};  // junk to be replaced
    const int status = ENTGetProtectedData(path.c_str(), label, protection, &record);
    if (status != kCmsOk) {
      EXPECT_EQ(record.length, 0u);
      EXPECT_EQ(record.data, nullptr);
      return "status " + std::to_string(status);
    }
    if (record.length == 0) {
      EXPECT_EQ(record.data, nullptr);
    }
    return std::string(reinterpret_cast<char*>(record.data), record.length);
  }

  ScratchDir scratch_;
  std::string path_;
};

TEST_F(ProtectedDataTest, TwoItemsRoundTripThroughAnEmptyFile) {
  const std::string user(300, 'u');
  const std::string ca = std::string("ca\0bytes", 8);
  ASSERT_EQ(Put(path_, kCaLabel, "12345678", ca), kCmsOk);
  ASSERT_EQ(Put(path_, kUserLabel, "12345678", user), kCmsOk);
  EXPECT_EQ(Get(path_, kUserLabel, "12345678"), user);
  EXPECT_EQ(Get(path_, kCaLabel, "12345678"), ca);
  EXPECT_EQ(FileMode(path_), 0600);
  const Bytes file = ReadFile(path_);
  EXPECT_EQ(std::search(file.begin(), file.end(), user.begin(), user.begin() + 16), file.end())
      << "the plaintext is in the file";
}

TEST_F(ProtectedDataTest, TheHostsDefaultOpensslContextDoesNotReachTheStore) {
  const toolkit_test::HostFetchesNothing host;
  ASSERT_TRUE(host.ok());
  ASSERT_EQ(Put(path_, kUserLabel, "p", "user"), kCmsOk);
  EXPECT_EQ(Get(path_, kUserLabel, "p"), "user");
}

TEST_F(ProtectedDataTest, WrongProtectionYieldsNothing) {
  ASSERT_EQ(Put(path_, kUserLabel, "12345678", "secret"), kCmsOk);
  EXPECT_EQ(Get(path_, kUserLabel, "12345679"),
            "status " + std::to_string(kCmsProtectedWrongProtection));
  EXPECT_EQ(Get(path_, kUserLabel, ""), "status " + std::to_string(kCmsProtectedWrongProtection));
}

TEST_F(ProtectedDataTest, ItemsAreReplacedAndMayBeEmpty) {
  ASSERT_EQ(Put(path_, kUserLabel, "a", "first"), kCmsOk);
  ASSERT_EQ(Put(path_, kCaLabel, "b", "other"), kCmsOk);
  ASSERT_EQ(Put(path_, kUserLabel, "c", ""), kCmsOk);
  EXPECT_EQ(Get(path_, kUserLabel, "c"), "");
  EXPECT_EQ(Get(path_, kUserLabel, "a"), "status " + std::to_string(kCmsProtectedWrongProtection));
  EXPECT_EQ(Get(path_, kCaLabel, "b"), "other");
}

// The empty label must not leave an empty field on its line: that would make
// the whole file unreadable while the write reported success.
TEST_F(ProtectedDataTest, EmptyLabelIsAnItemLikeAnyOther) {
  ASSERT_EQ(Put(path_, kUserLabel, "p", "user"), kCmsOk);
  ASSERT_EQ(Put(path_, "", "p", "unlabelled"), kCmsOk);
  EXPECT_EQ(Get(path_, "", "p"), "unlabelled");
  EXPECT_EQ(Get(path_, kUserLabel, "p"), "user");
  ASSERT_EQ(Put(path_, kCaLabel, "p", "ca"), kCmsOk);
  ASSERT_EQ(Put(path_, "", "q", "replaced"), kCmsOk);
  EXPECT_EQ(Get(path_, "", "q"), "replaced");
  EXPECT_EQ(Get(path_, kCaLabel, "p"), "ca");
  EXPECT_EQ(Get(path_, kUserLabel, "p"), "user");
}

// The empty label is written as "-"; a line whose label field is empty is
// damage like any other malformed line, so no item is read from such a file
// and none is added to it.
TEST_F(ProtectedDataTest, AnEmptyLabelFieldIsDamage) {
  WriteFile(path_,
            "veskar-protected-data 1\n"
            "item VmVyaWZpY2F0aW9uIENlcnRpZmljYXRl 15 8 1 MUathRJT2+I7g6cF59kNVw== "
            "S4duPHgCepdUcVPf A61GKoHB6yViWCFRegmzy5oNNkA3CUCFKsWq\n"
            "item  15 8 1 7K7cvLc3VJ/5VzjBRduJRA== x2aW8fENfXat6z33 "
            "cD8dUft7PLBFx6J1nKTx92pKPx4rKS1/prVXpsQI\n");
  EXPECT_EQ(Get(path_, kUserLabel, "12345678"), "status " + std::to_string(kCmsProtectedDamaged));
  EXPECT_EQ(Get(path_, "", "12345678"), "status " + std::to_string(kCmsProtectedDamaged));
  EXPECT_EQ(Put(path_, kCaLabel, "12345678", "ca"), kCmsProtectedDamaged);
}

// Lines are split at single blanks and must have exactly eight fields, so a
// stray or missing blank is damage, never a shifted field.
TEST_F(ProtectedDataTest, ItemLinesWithOtherFieldCountsAreDamage) {
  ASSERT_EQ(Put(path_, kUserLabel, "p", "data"), kCmsOk);
  const Bytes file = ReadFile(path_);
  const std::string good(file.begin(), file.end());
  const size_t line = good.find("\nitem ") + 1;
  const size_t salt = good.find(" 15 8 1 ") + 8;
  const std::string damaged[] = {
      good.substr(0, good.size() - 1) + " \n",         // trailing blank
      good.substr(0, salt) + " " + good.substr(salt),  // double blank
      good.substr(0, good.rfind(' ')) + "\n",          // no sealed field
      good.substr(0, good.size() - 1) + " AAAA\n",     // a ninth field
      good.substr(0, line) + " " + good.substr(line),  // blank before "item"
      good.substr(0, good.find("VmVy")) + "-" + good.substr(good.find("VmVy")),  // "-" in Base64
  };
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    WriteFile(path_, text);
    EXPECT_EQ(Get(path_, kUserLabel, "p"), "status " + std::to_string(kCmsProtectedDamaged));
    EXPECT_EQ(Put(path_, "", "p", "x"), kCmsProtectedDamaged);
  }
}

TEST_F(ProtectedDataTest, MissingAndDamagedStoresFail) {
  ASSERT_EQ(Put(path_, kUserLabel, "p", "data"), kCmsOk);
  EXPECT_EQ(Get(path_, "No Such Label", "p"), "status " + std::to_string(kCmsProtectedNoItem));
  EXPECT_EQ(Get(scratch_.File("absent"), kUserLabel, "p"),
            "status " + std::to_string(kCmsProtectedFileError));
  const std::string garbage = scratch_.File("garbage");
  WriteFile(garbage, "not a store\n");
  EXPECT_EQ(Get(garbage, kUserLabel, "p"), "status " + std::to_string(kCmsProtectedDamaged));
  EXPECT_EQ(Put(garbage, kUserLabel, "p", "x"), kCmsProtectedDamaged);
  const Bytes untouched = ReadFile(garbage);
  EXPECT_EQ(std::string(untouched.begin(), untouched.end()), "not a store\n");
}

// An item moved under another label (its line edited) no longer opens.
TEST_F(ProtectedDataTest, ItemIsBoundToItsLabel) {
  ASSERT_EQ(Put(path_, kUserLabel, "p", "user"), kCmsOk);
  const Bytes file = ReadFile(path_);
  std::string text(file.begin(), file.end());
  // Labels are Base64 on the line; swap the user label for another's.
  const std::string from = "VmVyaWZpY2F0aW9uIENlcnRpZmljYXRl";  // "Verification Certificate"
  const std::string to = "T3RoZXIgQ2VydGlmaWNhdGUgTGFiZWw=";    // "Other Certificate Label"
  ASSERT_NE(text.find(from), std::string::npos) << text;
  text.replace(text.find(from), from.size(), to);
  WriteFile(path_, text);
  EXPECT_EQ(Get(path_, "Other Certificate Label", "p"),
            "status " + std::to_string(kCmsProtectedWrongProtection));
}

TEST_F(ProtectedDataTest, FileIsCreatedAndKeptOwnerOnly) {
  const std::string fresh = scratch_.File("fresh");
  ASSERT_EQ(Put(fresh, kUserLabel, "p", "x"), kCmsOk);
  EXPECT_EQ(FileMode(fresh), 0600);
  ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
  ASSERT_EQ(Put(path_, kUserLabel, "p", "x"), kCmsOk);
  EXPECT_EQ(FileMode(path_), 0600);
  EXPECT_EQ(toolkit_test::FileCount(scratch_.path()), 2) << "a temporary file was left behind";
}

// A store that cannot be written (the file-size limit stands in for a full
// disk) says so, and leaves the file as it was and no temporary file.
TEST_F(ProtectedDataTest, FullDiskIsReportedAndLeavesTheFileAsItWas) {
  ASSERT_EQ(Put(path_, kCaLabel, "p", "kept"), kCmsOk);
  const Bytes before = ReadFile(path_);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 64, before.size() + 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(Put(path_, kUserLabel, "p", std::string(4096, 'x')) == kCmsProtectedFileError ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed write was not reported";
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_EQ(Get(path_, kCaLabel, "p"), "kept");
  EXPECT_EQ(toolkit_test::FileCount(scratch_.path()), 1) << "a temporary file was left behind";
}

// A file may not ask for more key-derivation work or memory than this
// toolkit spends itself (with some room), nor be larger than any store it
// writes; it is refused before any of that is spent.
TEST_F(ProtectedDataTest, CostlyParametersAndHugeFilesAreRefusedUpFront) {
  ASSERT_EQ(Put(path_, kUserLabel, "p", "data"), kCmsOk);
  const Bytes file = ReadFile(path_);
  const std::string good(file.begin(), file.end());
  const size_t params = good.find(" 15 8 1 ");
  ASSERT_NE(params, std::string::npos) << good;
  const struct {
    const char* params;
    int status;
  } cases[] = {
      {" 20 2 4 ", kCmsProtectedTooCostly},        // 256 MiB, four passes
      {" 17 8 1 ", kCmsProtectedTooCostly},        // 128 MiB
      {" 15 8 4 ", kCmsProtectedTooCostly},        // four times the work
      {" 9 8 1 ", kCmsProtectedDamaged},           // weaker than any writer used
      {" 16 8 1 ", kCmsProtectedWrongProtection},  // allowed: the tag decides
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    WriteFile(path_, good.substr(0, params) + c.params + good.substr(params + 8));
    EXPECT_EQ(Get(path_, kUserLabel, "p"), "status " + std::to_string(c.status));
  }

  ASSERT_EQ(truncate(path_.c_str(), 64 << 20), 0);  // sparse: no disk is filled
  EXPECT_EQ(Get(path_, kUserLabel, "p"), "status " + std::to_string(kCmsProtectedTooLarge));
  EXPECT_EQ(Put(path_, kUserLabel, "p", "x"), kCmsProtectedTooLarge);
}

TEST_F(ProtectedDataTest, BadArgumentsAreRefused) {
  CMSBinaryData lying{4, nullptr};
  EXPECT_EQ(ENTPutProtectedData(path_.c_str(), kUserLabel, "p", &lying), kCmsBadArgument);
  EXPECT_EQ(ENTPutProtectedData(path_.c_str(), kUserLabel, "p", nullptr), kCmsBadArgument);
  EXPECT_EQ(ENTPutProtectedData(nullptr, kUserLabel, "p", &lying), kCmsBadArgument);
  EXPECT_EQ(ENTPutProtectedData("", kUserLabel, "p", &lying), kCmsBadArgument);
  EXPECT_EQ(ENTGetProtectedData(path_.c_str(), kUserLabel, "p", nullptr), kCmsBadArgument);
  CMSBinaryData out{};
  EXPECT_EQ(ENTGetProtectedData(path_.c_str(), nullptr, "p", &out), kCmsBadArgument);
  EXPECT_EQ(ENTGetProtectedData(path_.c_str(), kUserLabel, nullptr, &out), kCmsBadArgument);
}

}  // namespace
}  // namespace veskar::cmsapi
