#ifndef VESKAR_MODULE_BINDER_H_
#define VESKAR_MODULE_BINDER_H_

#include <cstddef>
#include <type_traits>

namespace veskar {

// One row of a toolkit's binding table: the decorated name looked up and
// the class-wide slot that receives the address.
struct EntryBinding {
  const char* decorated_name;
  void* (*read_slot)();
  void (*write_slot)(void* address);
};

template <auto* Slot>
void* ReadSlot() {
  return reinterpret_cast<void*>(*Slot);
}

template <auto* Slot>
void WriteSlot(void* address) {
  *Slot = reinterpret_cast<std::remove_pointer_t<decltype(Slot)>>(address);
}

// A table row: VESKAR_ENTRY("_CMSLogin@24", CQnEntCmsPMA::m_gpCMSLogin).
#define VESKAR_ENTRY(decorated_name, slot) \
  ::veskar::EntryBinding { decorated_name, &::veskar::ReadSlot<&slot>, &::veskar::WriteSlot<&slot> }

// How a toolkit's binding treats a missing entry point.
enum class BindRule {
  kLookUpAll,      // every name is looked up; missing ones leave null slots
  kStopAtMissing,  // the first missing name ends the binding; later slots untouched
};

// Binds `table` against `module` by `rule`. A slot is written only when its
// value changes, so rebinding an unchanged module writes nothing and readers
// on other threads never see a slot pass through another value. Returns 1
// when every entry point was found, else 0. REQUIRES: module is not null.
int BindEntryPoints(void* module, const EntryBinding* table, size_t count, BindRule rule);

// Stores `value` into a loaded flag only when it differs, for the same reason.
void UpdateLoadedFlag(int* flag, int value);

}  // namespace veskar

#endif  // VESKAR_MODULE_BINDER_H_
