// Veskar.dll as Windows sees it: the message texts are string resources of
// the DLL itself, the version record is a real version resource, and the
// agents' files lie in GetTempPathA's folder under the names Windows gives.

#include <windows.h>
// windows.h comes first: the version API needs its types.
#include <gtest/gtest.h>
#include <veskar/veskar.h>
#include <winver.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "win32/temp_folder.h"

namespace {

HMODULE LibraryModule() { return GetModuleHandleA("Veskar.dll"); }

struct MessageEntry {
  unsigned int id;
  const char* text;
};

// The table the build generates for platforms without string resources,
// from the same data as the resource script: the two must agree.
constexpr MessageEntry kMessages[] = {
#include "veskar_messages.inc"
};

TEST(Win32Resources, EveryMessageIsAStringResourceOfTheLibrary) {
  const HMODULE library = LibraryModule();
  ASSERT_NE(library, nullptr);
  for (const MessageEntry& message : kMessages) {
    SCOPED_TRACE(message.id);
    char buffer[2048];
    const int length = LoadStringA(library, message.id, buffer, sizeof buffer);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(length)), message.text);
    CString through_library;
    ASSERT_TRUE(through_library.LoadString(message.id));
    EXPECT_EQ(std::string(through_library), message.text);
  }
}

TEST(Win32Resources, NumbersOutsideTheTableLoadNothing) {
  char buffer[64];
  for (unsigned int id : {0u, 42156u, 51007u, 53008u, 65535u}) {
    EXPECT_EQ(LoadStringA(LibraryModule(), id, buffer, sizeof buffer), 0) << id;
    CString text("unchanged");
    EXPECT_FALSE(text.LoadString(id)) << id;
    EXPECT_EQ(std::string(text), "unchanged");
  }
  // Resource numbers are 16 bits: 0x10000 + 51000 must not alias 51000.
  CString text;
  EXPECT_FALSE(text.LoadString(0x10000u + 51000u));
}

class Win32VersionRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(LibraryModule(), path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u) << "Veskar.dll has no version resource";
    data_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data_.data()));
  }

  std::vector<char> data_;
};

TEST_F(Win32VersionRecord, FixedPartSaysVersionOneZeroZeroTwoOfADll) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data_.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000002u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(Win32VersionRecord, StringsUnderTheDeclaredTranslation) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_GE(length, 4u);
  const WORD* translation = static_cast<const WORD*>(value);
  EXPECT_EQ(translation[0], 0x0409);  // U.S. English, as the message table
  char block[64];
  std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation[0],
                translation[1]);
  const struct {
    const char* key;
    const char* text;
  } kExpected[] = {
      {"FileDescription", "Veskar"},      {"FileVersion", "1.0.0.2"}, {"InternalName", "Veskar"},
      {"OriginalFilename", "Veskar.dll"}, {"ProductName", "Veskar"},  {"ProductVersion", "1.0.0.2"},
  };
  for (const auto& expected : kExpected) {
    SCOPED_TRACE(expected.key);
    char* text = nullptr;
    ASSERT_TRUE(VerQueryValueA(data_.data(), (std::string(block) + expected.key).c_str(),
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, expected.text);
  }
}

// Reaches the agents' protected file members.
struct FileAgent : CQnEntCmsPMA {
  using CQnEntCmsPMA::CreateCMSiniFile;
  using CQnEntCmsPMA::CreateEmptyTempFile;
  using CQnEntCmsPMA::DeleteCMSiniFile;
};
struct IpsecFileAgent : CQnEntIPSecPMA {
  using CQnEntIPSecPMA::CreateEtIniFile;
  using CQnEntIPSecPMA::DeleteEtIniFile;
};

class Win32TempFiles : public ScopedTempFolder {
 protected:
  // Checks that `path` is <folder><prefix><hex digits>.<extension>.
  void ExpectName(const std::string& path, const std::string& prefix,
                  const std::string& extension) {
    SCOPED_TRACE(path);
    const std::string head = folder_ + prefix;
    ASSERT_EQ(path.compare(0, head.size(), head), 0);
    const size_t dot = path.rfind('.');
    ASSERT_NE(dot, std::string::npos);
    EXPECT_EQ(path.substr(dot + 1), extension);
    const std::string number = path.substr(head.size(), dot - head.size());
    ASSERT_FALSE(number.empty());
    for (char c : number) EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << c;
  }

  static long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long>(data.nFileSizeLow);
  }
};

TEST_F(Win32TempFiles, IniFilesAreNamedFromThePrefixInTheTempFolder) {
  FileAgent cms;
  IpsecFileAgent ipsec;
  CString manager("ca.example");
  CString server("dir.example");
  const std::string cms_ini(cms.CreateCMSiniFile(manager, server));
  const std::string ipsec_ini(ipsec.CreateEtIniFile(manager, server));
  ExpectName(cms_ini, "CMS", "ini");
  ExpectName(ipsec_ini, "ENT", "ini");
  EXPECT_EQ(FileSize(cms_ini), 75 + 10 + 11);
  cms.DeleteCMSiniFile(cms_ini.c_str());
  ipsec.DeleteEtIniFile(ipsec_ini.c_str());
  EXPECT_EQ(FileSize(cms_ini), -1);
}

TEST_F(Win32TempFiles, EmptyTempFilesKeepTmpOrTakeTheExtension) {
  FileAgent cms;
  ExpectName(std::string(cms.CreateEmptyTempFile("ENT", "DER")), "ENT", "DER");
  const std::string kept(cms.CreateEmptyTempFile("ENT", "TmP"));
  const size_t dot = kept.rfind('.');
  ASSERT_NE(dot, std::string::npos);
  // The system's own name is kept as it is, whatever case it uses.
  EXPECT_EQ(kept.size() - dot, 4u);
  EXPECT_EQ(FileSize(kept), 0);
}

TEST_F(Win32TempFiles, RemovingAMissingFileRaisesTheWindowsError) {
  IpsecFileAgent ipsec;
  const std::string missing = folder_ + "ENT0.ini";
  try {
    ipsec.DeleteEtIniFile(missing.c_str());
    FAIL() << "no CFileException";
  } catch (const CFileException& error) {
    EXPECT_EQ(error.m_lOsError, static_cast<long>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(std::string(error.m_strFileName), missing);
    EXPECT_NE(std::string(error.what()).find(missing), std::string::npos);
  }
}

}  // namespace
