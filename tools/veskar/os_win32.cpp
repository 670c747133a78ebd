// The command's calls into Windows. There are no stand-ins (they need
// OpenSSL, which the Windows build goes without): a toolkit is whatever
// cmsapi32.dll or kmpapi32.dll the DLL search finds.

#include <fcntl.h>
#include <io.h>
#include <veskar/veskar.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "os.h"

namespace veskar_cli {
namespace {

// The file behind `module`, "" when Windows does not say.
std::string ModuleFile(HMODULE module) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : "";
}

}  // namespace

std::string LoadedLibraryFile() {
  const void* inside = reinterpret_cast<const void*>(&GetAvaliableServices);
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(inside), &module)) {
    return "";
  }
  return ModuleFile(module);
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

void UseStandInToolkits(char** /*argv*/, bool /*disabled*/) {}

std::string StandInFolder(const char* /*file*/) { return ""; }

bool StandInLoaded(const Toolkit& /*toolkit*/) { return false; }

bool InspectLoadedToolkit(const Toolkit& toolkit, std::string* path, std::string* missing) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, toolkit.file, &module)) {
    return false;
  }
  const std::string file = ModuleFile(module);
  *path = file.empty() ? "(unknown file)" : file;
  missing->clear();
  for (const EntryName& entry : toolkit.entry_points) {
#if defined(_M_IX86) || defined(__i386__)
    const char* name = entry.decorated;
#else
    const char* name = entry.plain;
#endif
    if (GetProcAddress(module, name) == nullptr) {
      *missing += std::string(missing->empty() ? "" : ", ") + entry.plain;
    }
  }
  return true;
}

std::string WhyNotLoaded(const char* file) {
  const HMODULE module = LoadLibraryA(file);
  if (module != nullptr) {
    FreeLibrary(module);
    return "it loads now, so it was added after the library started";
  }
  const DWORD error = GetLastError();
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = text != nullptr ? text : "";
  if (text != nullptr) LocalFree(text);
  reason.erase(reason.find_last_not_of("\r\n .") + 1);
  return reason.empty() ? "Windows error " + std::to_string(error) : reason;
}

}  // namespace veskar_cli
