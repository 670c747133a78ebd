// Temporary names under the real Win32 platform layer, white-box: a target
// name that another file took before the rename makes the system's own
// "already exists" error, which must draw another number, never fail the
// file nor touch the one that is there.

#include "temp_folder.h"
// windows.h keeps an old macro of this name that would rewrite Env's member.
#undef FreeModule

#include <veskar/cstring.h>

#include <string>

#include "files/temp_files.h"
#include "platform/env.h"

namespace {

// Takes the name of the first rename's target just before the real rename.
class TakingEnv : public veskar::EnvWrapper {
 public:
  TakingEnv() : EnvWrapper(veskar::Env::Default()) { previous_ = veskar::SetEnvForTesting(this); }
  ~TakingEnv() override { veskar::SetEnvForTesting(previous_); }

  int RenameNoReplace(const std::string& from, const std::string& to) override {
    if (taken.empty()) {
      const HANDLE file = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, "theirs", 6, &written, nullptr);
        CloseHandle(file);
        taken = to;
      }
    }
    return EnvWrapper::RenameNoReplace(from, to);
  }

  std::string taken;

 private:
  veskar::Env* previous_ = nullptr;
};

class Win32TakenNames : public ScopedTempFolder {
 protected:
  void ExpectDrawnPast(const TakingEnv& env, const std::string& path) {
    ASSERT_FALSE(env.taken.empty());
    EXPECT_FALSE(path.empty());
    EXPECT_NE(path, env.taken);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(env.taken.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 6u);
  }
};

TEST_F(Win32TakenNames, ProtectedDataFileDrawsAnotherNumber) {
  TakingEnv env;
  const std::string path(veskar::MakeEmptyTempFile("ENT", "DER"));
  ExpectDrawnPast(env, path);
}

TEST_F(Win32TakenNames, ClientIniFileDrawsAnotherNumber) {
  TakingEnv env;
  CString error;
  const std::string path(veskar::WriteClientIniFile("CMS", "ca.example", "dir.example", &error));
  EXPECT_TRUE(error.IsEmpty()) << static_cast<const char*>(error);
  ExpectDrawnPast(env, path);
}

}  // namespace
