// Win32 implementation of the platform layer. File operations return 0 on
// success or the GetLastError code on failure.

#include <windows.h>
// windows.h keeps an old macro of this name that would rewrite Env's member.
#undef FreeModule

#include <veskar/toolkit/toolkit_abi.h>

#include <new>
#include <string>

#include "platform/env.h"

namespace veskar {
namespace {

// 32-bit Windows exports stdcall entry points under their decorated names
// ("_CMSLogin@24"); 64-bit Windows has one calling convention and exports
// the plain name ("CMSLogin").
std::string ExportedName(const char* decorated_name) {
#if defined(VESKAR_TOOLKIT_X86_32)
  return decorated_name;
#else
  std::string name(decorated_name);
  if (!name.empty() && name[0] == '_') name.erase(0, 1);
  const size_t at = name.rfind('@');
  if (at != std::string::npos) name.erase(at);
  return name;
#endif
}

int LastError() {
  const DWORD error = GetLastError();
  // A failed call that left no code still must not read as success.
  return error != 0 ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

class Win32Env : public Env {
 public:
  void* LoadModule(const char* module_name) override {
    // The toolkit is looked up through the DLL search order, by its plain
    // name ("cmsapi32" finds cmsapi32.dll).
    return reinterpret_cast<void*>(LoadLibraryA(module_name));
  }

  void FreeModule(void* module) override { FreeLibrary(static_cast<HMODULE>(module)); }

  void* FindEntry(void* module, const char* decorated_name) override {
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(module), ExportedName(decorated_name).c_str()));
  }

  std::string TempDirectory() override {
    char buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathA(static_cast<DWORD>(sizeof buffer), buffer);
    if (length == 0 || length > MAX_PATH) return std::string();
    return std::string(buffer, length);
  }

  int CreateUniqueFile(const std::string& directory, const std::string& prefix,
                       std::string* path) override {
    char buffer[MAX_PATH];
    // A unique value of 0 makes the system pick the number and create the
    // file, trying further numbers while names are taken.
    if (GetTempFileNameA(directory.c_str(), prefix.substr(0, 3).c_str(), 0, buffer) == 0) {
      return LastError();
    }
    *path = buffer;
    return 0;
  }

  int RenameNoReplace(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
    return MoveFileExA(from.c_str(), to.c_str(), 0) ? 0 : LastError();
  }

  int WriteExistingFile(const std::string& path, const void* data, size_t size) override {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastError();
    const char* bytes = static_cast<const char*>(data);
    int error = 0;
    while (size > 0) {
      const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file, bytes, chunk, &written, nullptr)) {
        error = LastError();
        break;
      }
      bytes += written;
      size -= written;
    }
    if (!CloseHandle(file) && error == 0) error = LastError();
    return error;
  }

  int RemoveFile(const std::string& path) override {
    return DeleteFileA(path.c_str()) ? 0 : LastError();
  }
};

}  // namespace

Env* Env::Default() {
  // Never destroyed: detach still needs it after static destructors ran.
  alignas(Win32Env) static unsigned char storage[sizeof(Win32Env)];
  static Win32Env* env = new (storage) Win32Env;
  return env;
}

std::string OsErrorText(long error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (length != 0 && text != nullptr) result.assign(text, length);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  if (result.empty()) result = "Windows error " + std::to_string(error);
  return result;
}

bool IsNameTaken(int error) {
  // MoveFileEx reports a present target as ERROR_ALREADY_EXISTS; file
  // creation says ERROR_FILE_EXISTS for the same.
  return error == static_cast<int>(ERROR_ALREADY_EXISTS) ||
         error == static_cast<int>(ERROR_FILE_EXISTS);
}

}  // namespace veskar
