// A host that loads a stand-in toolkit DLL, has it use its OpenSSL and
// unloads it, twice, and then exits: the toolkit's own static OpenSSL keeps
// the DLL from unloading by nothing, and leaves nothing in the process that
// outlives the DLL (an exit handler left in an unloaded DLL crashes the
// host's exit, which fails this test). ENTGetProtectedData is left out: its
// answer is a thread-local object of the calling thread's, which the C++
// runtime keeps the DLL loaded for until that thread ends.

#include <windows.h>
// windows.h first: the test framework's Windows parts need its types.
#include <gtest/gtest.h>
#include <veskar/toolkit/cmsapi32.h>

#include <string>

namespace {

// The names 32-bit callers look the entry points up by are decorated.
#ifdef _WIN64
constexpr char kPut[] = "ENTPutProtectedData";
#else
constexpr char kPut[] = "_ENTPutProtectedData@16";
#endif

TEST(Win32ToolkitUnload, AToolkitThatUsedOpensslUnloadsAndLetsTheHostExit) {
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  char store[MAX_PATH];  // made empty, as the library makes a store
  ASSERT_NE(GetTempFileNameA(folder, "vt", 0, store), 0u);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const HMODULE toolkit = LoadLibraryA("cmsapi32.dll");
    ASSERT_NE(toolkit, nullptr) << GetLastError();
    const auto put = reinterpret_cast<PFN_ENTPutProtectedData>(
        reinterpret_cast<void*>(GetProcAddress(toolkit, kPut)));
    ASSERT_NE(put, nullptr);
    std::string data = "round " + std::to_string(round);
    const CMSBinaryData in{static_cast<uint32_t>(data.size()),
                           reinterpret_cast<unsigned char*>(&data[0])};
    // Random salt, scrypt and AES-GCM: OpenSSL set up and used.
    EXPECT_EQ(put(store, "label", "protection", &in), 0);
    ASSERT_TRUE(FreeLibrary(toolkit));
    EXPECT_EQ(GetModuleHandleA("cmsapi32.dll"), nullptr) << "still loaded";
  }
  DeleteFileA(store);
}

}  // namespace
