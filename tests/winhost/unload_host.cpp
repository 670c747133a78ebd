// A host that loads Veskar.dll at run time, enrolls one user through it
// (in enroll_module.dll), unloads it again and only then exits. Exits 0
// when the enrollment succeeded and FreeLibrary did; names each of the
// library and the toolkits that is still loaded afterwards.
//
//   unload_host CA DIRECTORY REFERENCE CODE_FILE REQUEST.der CERT.der

#include <windows.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s CA DIRECTORY REFERENCE CODE_FILE REQUEST.der CERT.der\n",
                 argv[0]);
    return 2;
  }
  // The host's own reference, taken first: the library attaches (and loads
  // the toolkits) here, not inside the module's load.
  const HMODULE library = LoadLibraryA("Veskar.dll");
  const HMODULE module = LoadLibraryA("enroll_module.dll");
  if (library == nullptr || module == nullptr) {
    std::fprintf(stderr, "cannot load Veskar.dll or enroll_module.dll: error %lu\n",
                 GetLastError());
    return 1;
  }
  using Enroll = int (*)(char**);
  const auto enroll =
      reinterpret_cast<Enroll>(reinterpret_cast<void*>(GetProcAddress(module, "EnrollFromFiles")));
  const int outcome = enroll != nullptr ? enroll(argv + 1) : -1;
  std::printf("enrollment: %d\n", outcome);

  const bool freed = FreeLibrary(module) && FreeLibrary(library);
  for (const char* name : {"Veskar.dll", "cmsapi32.dll", "kmpapi32.dll"}) {
    if (GetModuleHandleA(name) != nullptr) std::printf("still loaded: %s\n", name);
  }
  return outcome == 0 && freed ? 0 : 1;
}
