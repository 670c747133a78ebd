#ifndef VESKAR_BINDING_BINDER_H_
#define VESKAR_BINDING_BINDER_H_

#include <veskar/toolkit/toolkit_abi.h>

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

// The bytes of arguments a 32-bit stdcall function of type `Pfn` takes off
// the stack: each argument rounded up to four bytes. The number in a
// decorated name ("_CMSLogin@24") must match it, or the library would ask
// for a name no toolkit exports.
template <typename Pfn>
struct StdcallArgumentBytes;
template <typename R, typename... Args>
struct StdcallArgumentBytes<R(VESKAR_TOOLKIT_CALL*)(Args...)> {
  static constexpr size_t value = (size_t{0} + ... + ((sizeof(Args) + 3) / 4 * 4));
};

// A binding-table row for entry point `name` of an entry-point list, bound to
// slot m_gp<name> of the class the table is written in.
#define VESKAR_ENTRY_ROW(ret, name, bytes, params) \
  VESKAR_ENTRY(VESKAR_TOOLKIT_DECORATED_NAME(name, bytes), m_gp##name),

// Expanded over an entry-point list where a 32-bit stdcall build can check
// each row's argument bytes against its function-pointer type.
#if defined(VESKAR_TOOLKIT_X86_32)
#define VESKAR_CHECK_ARGUMENT_BYTES(ret, name, bytes, params)                 \
  static_assert(::veskar::StdcallArgumentBytes<PFN_##name>::value == (bytes), \
                #name ": argument bytes disagree with the decorated name");
#else
#define VESKAR_CHECK_ARGUMENT_BYTES(ret, name, bytes, params)
#endif

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

#endif  // VESKAR_BINDING_BINDER_H_
