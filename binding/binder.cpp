#include "binding/binder.h"

#include "platform/env.h"

namespace veskar {

int BindEntryPoints(void* module, const EntryBinding* table, size_t count, BindRule rule) {
  Env* env = CurrentEnv();
  int all_found = 1;
  for (size_t i = 0; i < count; ++i) {
    void* address = env->FindEntry(module, table[i].decorated_name);
    if (table[i].read_slot() != address) table[i].write_slot(address);
    if (address == nullptr) {
      all_found = 0;
      if (rule == BindRule::kStopAtMissing) return 0;
    }
  }
  return all_found;
}

void UpdateLoadedFlag(int* flag, int value) {
  if (*flag != value) *flag = value;
}

}  // namespace veskar
