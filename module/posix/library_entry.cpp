// ELF has no per-library loader callback: the library's initialiser and
// finaliser call the entry routine, so attach runs when the library is loaded
// (before the host's first call) and detach when it is unloaded, dlclose
// included.

#include "module/library_entry.h"

#include <veskar/version.h>

namespace {

// Nor does it have a version resource: the version record is kept in the
// library file as text after a marker, so that a tool can read which
// version a process actually loaded ('veskar version' does).
[[gnu::used]] const char kVersionRecord[] =
    "VESKAR-VERSION-RECORD\n"
    "file version: " VESKAR_FILE_VERSION
    "\n"
    "product version: " VESKAR_PRODUCT_VERSION
    "\n"
    "description: " VESKAR_FILE_DESCRIPTION
    "\n"
    "internal name: " VESKAR_INTERNAL_NAME
    "\n"
    "product name: " VESKAR_PRODUCT_NAME
    "\n"
    "original file name: " VESKAR_ORIGINAL_FILENAME "\n";

__attribute__((constructor)) void VeskarOnLoad() {
  veskar::LibraryEntry(nullptr, veskar::kProcessAttach);
}

__attribute__((destructor)) void VeskarOnUnload() {
  veskar::LibraryEntry(nullptr, veskar::kProcessDetach);
}

}  // namespace
