#ifndef VESKAR_PKI_THREAD_SLOT_H_
#define VESKAR_PKI_THREAD_SLOT_H_

#include <memory>
#include <mutex>
#include <vector>

namespace veskar::pki {

// A value of type T for each thread, for the texts and bytes an entry point
// hands out "until the same thread calls again". A thread_local with a
// destructor would make the C++ runtime hold the toolkit in memory for as
// long as the thread lives (on Windows and Linux alike), so a host's
// FreeLibrary or dlclose would not release it. Here the thread keeps only a
// plain pointer, and the values belong to the slot, which frees them all
// when the module is unloaded. A value outlives its thread until then.
// `Tag` tells apart slots of one type.
template <typename T, typename Tag>
class ThreadSlot {
 public:
  static T& Mine() {
    thread_local T* mine = nullptr;
    if (mine == nullptr) {
      auto made = std::make_unique<T>();
      Slot& slot = Instance();
      std::lock_guard<std::mutex> guard(slot.mutex);
      slot.values.push_back(std::move(made));
      mine = slot.values.back().get();
    }
    return *mine;
  }

 private:
  struct Slot {
    std::mutex mutex;
    std::vector<std::unique_ptr<T>> values;
  };
  static Slot& Instance() {
    static Slot slot;
    return slot;
  }
};

}  // namespace veskar::pki

#endif  // VESKAR_PKI_THREAD_SLOT_H_
