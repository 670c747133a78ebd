// The system calls DllMain when the library is attached to and detached from
// a process (and for every thread, which the entry routine ignores).

#include "module/library_entry.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  return veskar::LibraryEntry(instance, reason) ? TRUE : FALSE;
}
