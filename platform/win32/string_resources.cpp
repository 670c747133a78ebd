// Message texts from the string table in the library's own resources, so a
// Windows build serves exactly what its resource section holds.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/message_text.h"

namespace veskar {
namespace {

// The module this code was linked into: the DLL, or a test program linking
// the library's code statically together with its resources.
HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

}  // namespace

bool LoadMessageText(unsigned int id, std::string* text) {
  // String identifiers are 16 bits; a larger number would alias another.
  if (id > 0xFFFFu) return false;
  const HMODULE module = OwnModule();
  std::vector<char> buffer(1024);
  for (;;) {
    const int length = LoadStringA(module, id, buffer.data(), static_cast<int>(buffer.size()));
    if (length <= 0) return false;
    // A text that filled the buffer may have been cut: read it again.
    if (static_cast<size_t>(length) + 1 < buffer.size()) {
      text->assign(buffer.data(), static_cast<size_t>(length));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace veskar
