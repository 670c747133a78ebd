// The command's calls into Windows for every build: the library and the
// toolkits it loaded. A toolkit is whatever cmsapi32.dll or kmpapi32.dll the
// DLL search finds; a package puts the stand-ins beside veskar.exe, where
// the search looks first, so nothing has to be done to fall back on them.
// What the PKI verbs ask is in os_win32_pki_verbs.cpp.

#include <fcntl.h>
#include <io.h>
#include <string.h>
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

// The folder part of a file name: up to its last '\' or '/'.
std::string FolderOf(const std::string& file) {
  const size_t separator = file.find_last_of("\\/");
  return separator == std::string::npos ? "." : file.substr(0, separator);
}

// `path` as Windows spells it in full ("Z:\\work\\..." for "/work/..."
// under Wine), or `path` when it cannot.
std::string FullPath(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

// Two names of one file, as far as their text says: Windows' names do not
// tell case apart.
bool SameName(const std::string& a, const std::string& b) {
  return _stricmp(FullPath(a).c_str(), FullPath(b).c_str()) == 0;
}

bool IsPlainFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExecutableFolder() { return FolderOf(ModuleFile(nullptr)); }

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

// Beside veskar.exe, as a package has them; or, for a veskar.exe running
// where the build made it, in the build's toolkit folder.
std::string StandInFolder(const char* file) {
  const std::string own = ExecutableFolder();
  if (IsPlainFile(own + "\\" + file)) return own;
  if (!SameName(own, VESKAR_EXECUTABLE_BUILD_DIR)) return "";
  const std::string name = file;
  const std::string folder =
      FullPath(VESKAR_STANDIN_BUILD_DIR "/" + name.substr(0, name.find('.')));
  return IsPlainFile(folder + "\\" + file) ? folder : "";
}

std::string StandInAdvice(const std::string& folder) {
  if (SameName(folder, ExecutableFolder())) return "";
  return "put that folder on PATH, or copy the DLL beside veskar.exe";
}

bool StandInLoaded(const Toolkit& toolkit) {
  std::string path;
  std::string missing;
  if (!InspectLoadedToolkit(toolkit, &path, &missing)) return false;
  const std::string folder = StandInFolder(toolkit.file);
  return !folder.empty() && SameName(path, folder + "\\" + toolkit.file);
}

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
