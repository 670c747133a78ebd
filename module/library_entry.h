#ifndef VESKAR_MODULE_LIBRARY_ENTRY_H_
#define VESKAR_MODULE_LIBRARY_ENTRY_H_

namespace veskar {

// Reasons the entry routine is called with (the Windows numbering).
enum EntryReason : unsigned long {
  kProcessDetach = 0,
  kProcessAttach = 1,
  kThreadAttach = 2,
  kThreadDetach = 3,
};

// The library's entry routine: attach loads the toolkits ("cmsapi32" first,
// then "kmpapi32") and binds each one that loaded; detach releases them in
// the same order. Returns nonzero on success. The platform calls it from its
// load-time hooks (DllMain on Windows, an initialiser and finaliser on ELF).
int LibraryEntry(void* instance, unsigned long reason);

}  // namespace veskar

#endif  // VESKAR_MODULE_LIBRARY_ENTRY_H_
