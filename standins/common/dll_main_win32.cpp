// The entry point the system calls when a toolkit DLL is attached to and
// detached from a process and its threads. It runs under the loader lock,
// so it loads nothing and waits for nothing: it only hands back what
// OpenSSL holds for an ending thread, and tears OpenSSL down when the host
// unloads the DLL (FreeLibrary: `reserved` is null). At process exit
// (`reserved` set) the other threads are gone mid-call and the process's
// memory goes with it, so nothing is freed then.

#include <windows.h>

#include "standins/common/openssl_guest.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_THREAD_DETACH:
      veskar::standins::EndOpensslThread();
      break;
    case DLL_PROCESS_DETACH:
      if (reserved == nullptr) veskar::standins::StopOpenssl();
      break;
    default:
      break;
  }
  return TRUE;
}
