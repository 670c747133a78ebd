// Loading and unloading Veskar.dll the way a host's LoadLibrary/FreeLibrary
// does: attach loads the toolkits, detach releases them. The fake toolkits
// log their own loading and unloading. Detach calls FreeLibrary for the CMS
// toolkit first (the binding tests check the calls), but DLLs freed inside
// another DLL's detach are unloaded when and in the order the system's
// loader chooses, so only "each exactly once" is checked here.

#include <windows.h>
// windows.h first: the test framework's Windows parts need its types.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/read_all.h"

namespace {

TEST(Win32LibraryUnload, FreeLibraryReleasesBothToolkitsExactlyOnce) {
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  char log_path[MAX_PATH];
  ASSERT_NE(GetTempFileNameA(folder, "vu", 0, log_path), 0u);
  // The fakes read the C runtime's environment, which _putenv_s updates.
  ASSERT_EQ(_putenv_s("VESKAR_FAKE_TOOLKIT_LOG", log_path), 0);

  const HMODULE library = LoadLibraryA("Veskar.dll");
  ASSERT_NE(library, nullptr) << GetLastError();
  // GetAvaliableServices has C++ linkage.
  auto services = reinterpret_cast<int (*)()>(
      reinterpret_cast<void*>(GetProcAddress(library, "_Z20GetAvaliableServicesv")));
  ASSERT_NE(services, nullptr);
  EXPECT_EQ(services(), 7);
  EXPECT_EQ(ReadAll(log_path), "load cmsapi32\nload kmpapi32\n");

  ASSERT_TRUE(FreeLibrary(library));
  EXPECT_EQ(GetModuleHandleA("Veskar.dll"), nullptr);
  EXPECT_EQ(GetModuleHandleA("cmsapi32.dll"), nullptr);
  EXPECT_EQ(GetModuleHandleA("kmpapi32.dll"), nullptr);
  const std::string log = ReadAll(log_path);
  EXPECT_TRUE(log == "load cmsapi32\nload kmpapi32\nunload cmsapi32\nunload kmpapi32\n" ||
              log == "load cmsapi32\nload kmpapi32\nunload kmpapi32\nunload cmsapi32\n")
      << log;
  DeleteFileA(log_path);
}

}  // namespace
