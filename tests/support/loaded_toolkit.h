#ifndef VESKAR_TESTS_SUPPORT_LOADED_TOOLKIT_H_
#define VESKAR_TESTS_SUPPORT_LOADED_TOOLKIT_H_

// Reaching a toolkit module the library loaded, on either platform, without
// loading another copy.

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

// The module the library loaded for `toolkit` ("cmsapi32"), or null when
// none is loaded. Release it with ReleaseLoadedToolkit.
inline void* LoadedToolkit(const std::string& toolkit) {
#if defined(_WIN32)
  HMODULE module = nullptr;
  // Takes a reference, as the POSIX branch does.
  GetModuleHandleExA(0, (toolkit + ".dll").c_str(), &module);
  return reinterpret_cast<void*>(module);
#else
  return dlopen(("lib" + toolkit + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD);
#endif
}

inline void ReleaseLoadedToolkit(void* module) {
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(module));
#else
  dlclose(module);
#endif
}

// The address `module` exports for entry point `name` ("CMSLogin"), under
// whatever name the platform gives it: on 32-bit Windows the decorated one,
// found by trying the argument sizes an entry point can have.
inline void* ExportedEntry(void* module, const std::string& name) {
#if defined(_WIN32)
  const HMODULE handle = static_cast<HMODULE>(module);
#if defined(_M_IX86) || defined(__i386__)
  for (int bytes = 0; bytes <= 64; bytes += 4) {
    const std::string decorated = "_" + name + "@" + std::to_string(bytes);
    if (FARPROC address = GetProcAddress(handle, decorated.c_str())) {
      return reinterpret_cast<void*>(address);
    }
  }
  return nullptr;
#else
  return reinterpret_cast<void*>(GetProcAddress(handle, name.c_str()));
#endif
#else
  return dlsym(module, name.c_str());
#endif
}

#endif  // VESKAR_TESTS_SUPPORT_LOADED_TOOLKIT_H_
