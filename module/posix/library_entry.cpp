// ELF has no per-library loader callback: the library's initialiser and
// finaliser call the entry routine, so attach runs when the library is loaded
// (before the host's first call) and detach when it is unloaded, dlclose
// included.

#include "module/module_state.h"

namespace {

__attribute__((constructor)) void VeskarOnLoad() {
  veskar::LibraryEntry(nullptr, veskar::kProcessAttach);
}

__attribute__((destructor)) void VeskarOnUnload() {
  veskar::LibraryEntry(nullptr, veskar::kProcessDetach);
}

}  // namespace
