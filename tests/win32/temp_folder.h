#ifndef VESKAR_TESTS_WIN32_TEMP_FOLDER_H_
#define VESKAR_TESTS_WIN32_TEMP_FOLDER_H_

#include <windows.h>
// windows.h first: the test framework's Windows parts need its types.
#include <gtest/gtest.h>

#include <string>

// A fresh folder made the temporary directory (TMP, which GetTempPathA reads
// first) for the life of the object, removed with its files afterwards.
class ScopedTempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, base), 0u);
    char unique[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(base, "vt", 0, unique), 0u);
    DeleteFileA(unique);
    ASSERT_TRUE(CreateDirectoryA(unique, nullptr));
    folder_ = std::string(unique) + "\\";
    previous_.resize(32767);
    const DWORD length = GetEnvironmentVariableA("TMP", &previous_[0], 32767);
    had_previous_ = length > 0;
    previous_.resize(length);
    SetEnvironmentVariableA("TMP", folder_.c_str());
    char reported[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, reported), 0u);
    ASSERT_EQ(std::string(reported), folder_);
  }
  void TearDown() override {
    SetEnvironmentVariableA("TMP", had_previous_ ? previous_.c_str() : nullptr);
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((folder_ + "*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileA((folder_ + entry.cFileName).c_str());
      } while (FindNextFileA(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryA(folder_.c_str());
  }

  std::string folder_;
  std::string previous_;
  bool had_previous_ = false;
};

#endif  // VESKAR_TESTS_WIN32_TEMP_FOLDER_H_
