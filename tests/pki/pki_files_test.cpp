#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "pki/files.h"
#include "pki/folders.h"

namespace veskar::pki {
namespace {

namespace fs = std::filesystem;

class PkiFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("veskar-pki-files-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    ASSERT_TRUE(fs::create_directory(folder_));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  static std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool Write(const std::string& path, const std::string& text, Overwrite overwrite,
                    int* error_number = nullptr) {
    std::string error;
    return WriteFileAtomically(path, text.data(), text.size(), 0600, overwrite, &error,
                               error_number);
  }
  // How many names the folder holds.
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), {}));
  }

  fs::path folder_;
};

TEST_F(PkiFilesTest, AtomicWritesNeverTakeAnExistingNameUnlessAskedAndLeaveNothingBehind) {
  const std::string path = Path("data.bin");
  const std::string binary("one\r\n\x1a\0two", 10);
  ASSERT_TRUE(Write(path, binary, Overwrite::kNever));
  EXPECT_EQ(Content(path), binary);  // bytes exactly, no text-mode changes

  int error_number = 0;
  EXPECT_FALSE(Write(path, "other", Overwrite::kNever, &error_number));
  EXPECT_EQ(error_number, EEXIST);
  EXPECT_EQ(Content(path), binary);

  ASSERT_TRUE(Write(path, "replaced", Overwrite::kReplace));
  EXPECT_EQ(Content(path), "replaced");
  EXPECT_EQ(Entries(), 1u);  // no temporary file outlives a call

  EXPECT_FALSE(Write(Path("missing/data.bin"), "x", Overwrite::kNever, &error_number));
  EXPECT_EQ(error_number, ENOENT);
}

TEST_F(PkiFilesTest, ALockerInPlaceWaitsForTheHolderAndThenHoldsTheFileItReplaced) {
  const std::string path = Path("store");
  ASSERT_TRUE(Write(path, "first", Overwrite::kNever));
  std::string error;
  auto lock = std::make_unique<FileLock>();
  ASSERT_TRUE(lock->AcquireInPlace(path, &error)) << error;

  std::atomic<bool> locked{false};
  std::string seen;
  std::thread other([&] {
    FileLock second;
    std::string why;
    if (second.AcquireInPlace(path, &why)) {
      seen = Content(path);
      locked = true;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(locked);
  // The holder replaces the file it has locked, as the writers of such
  // files do, and lets go: the waiter finds the name leads elsewhere now and
  // locks the new file.
  std::string why;
  EXPECT_TRUE(WriteFileAtomically(path, "second", 6, 0600, Overwrite::kReplace, &why)) << why;
  lock.reset();
  other.join();
  EXPECT_TRUE(locked);
  EXPECT_EQ(seen, "second");

  // Relative names too, as a host may give them.
  const fs::path here = fs::current_path();
  fs::current_path(folder_);
  FileLock relative;
  ASSERT_TRUE(relative.AcquireInPlace("store", &error)) << error;
  EXPECT_TRUE(Write("store", "third", Overwrite::kReplace));
  fs::current_path(here);
  EXPECT_EQ(Content(path), "third");
}

TEST_F(PkiFilesTest, AFileLockIsExclusiveAcrossLocks) {
  const std::string path = Path("lock");
  std::string error;
  auto first = std::make_unique<FileLock>();
  ASSERT_TRUE(first->Acquire(path, &error)) << error;
  std::atomic<bool> locked{false};
  std::thread other([&] {
    FileLock second;
    std::string why;
    if (second.Acquire(path, &why)) locked = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(locked);
  first.reset();
  other.join();
  EXPECT_TRUE(locked);
}

TEST_F(PkiFilesTest, InterruptedWritesAreRemovedOnlyWhenTheyAreOurs) {
  for (const char* name : {"register.txt.Ab3xY9", "register.txt.short", "other.txt.Ab3xY9"}) {
    std::ofstream(Path(name)) << "x";
  }
  fs::create_directory(folder_ / "register.txt.Zz9aB1");
  EXPECT_EQ(RemoveInterruptedWrites(folder_.string(),
                                    [](const std::string& name) { return name == "register.txt"; }),
            1);
  EXPECT_FALSE(fs::exists(Path("register.txt.Ab3xY9")));
  EXPECT_EQ(Entries(), 3u);
}

TEST_F(PkiFilesTest, ReadsAWholeFileWithinItsLimit) {
  const std::string path = Path("read");
  ASSERT_TRUE(Write(path, std::string(100, 'a'), Overwrite::kNever));
  Bytes out;
  std::string error;
  int error_number = 0;
  ASSERT_TRUE(ReadWholeFile(path, 100, &out, &error, &error_number)) << error;
  EXPECT_EQ(out.size(), 100u);
  EXPECT_FALSE(ReadWholeFile(path, 99, &out, &error, &error_number));
  EXPECT_EQ(error_number, EFBIG);
  EXPECT_FALSE(ReadWholeFile(Path("absent"), 100, &out, &error, &error_number));
  EXPECT_EQ(error_number, ENOENT);
  EXPECT_NE(error.find("absent"), std::string::npos);
  EXPECT_FALSE(ReadWholeFile(folder_.string(), 100, &out, &error, &error_number));
}

TEST_F(PkiFilesTest, KindsOfPathsAndFolders) {
  EXPECT_EQ(KindOfPath(Path("nothing")), PathKind::kNothing);
  std::ofstream(Path("empty")).close();
  EXPECT_EQ(KindOfPath(Path("empty")), PathKind::kEmptyFile);
  std::ofstream(Path("full")) << "x";
  EXPECT_EQ(KindOfPath(Path("full")), PathKind::kOther);
  EXPECT_EQ(KindOfPath(folder_.string()), PathKind::kOther);

  std::string error;
  bool exists = true;
  EXPECT_TRUE(IsAbsentOrEmptyFolder(Path("new"), &exists, &error));
  EXPECT_FALSE(exists);
  ASSERT_TRUE(CreateNewFolder(Path("new"), &error)) << error;
  EXPECT_FALSE(CreateNewFolder(Path("new"), &error));
  EXPECT_TRUE(IsFolder(Path("new")));
  EXPECT_TRUE(IsAbsentOrEmptyFolder(Path("new"), &exists, &error));
  EXPECT_TRUE(exists);
  // The owner can still work in a folder restricted to the owner.
  ASSERT_TRUE(RestrictFolderToOwner(Path("new"), &error)) << error;
  EXPECT_TRUE(Write(Path("new") + "/inside", "x", Overwrite::kNever));
  EXPECT_FALSE(IsAbsentOrEmptyFolder(Path("new"), &exists, &error));
  EXPECT_TRUE(MakeDirectory(Path("new"), 0700, &error));
  EXPECT_EQ(CanonicalPath(Path("new") + "/../new"), CanonicalPath(Path("new")));
}

TEST(DirectoryOfTest, SplitsOffTheLastName) {
  EXPECT_EQ(DirectoryOf("a/b/c"), "a/b");
  EXPECT_EQ(DirectoryOf("c"), ".");
  EXPECT_EQ(DirectoryOf("/c"), "/");
#ifdef _WIN32
  EXPECT_EQ(DirectoryOf("C:\\a\\b"), "C:\\a");
  EXPECT_EQ(DirectoryOf("C:\\b"), "C:\\");
  EXPECT_EQ(DirectoryOf("C:b"), "C:");
  EXPECT_EQ(DirectoryOf("a\\b/c"), "a\\b");
#endif
}

}  // namespace
}  // namespace veskar::pki
