#ifndef VESKAR_PKI_THREAD_SLOT_H_
#define VESKAR_PKI_THREAD_SLOT_H_

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "pki/thread_key.h"

namespace veskar::pki {

// A value of type T for each thread, for the texts and bytes an entry point
// hands out "until the same thread calls again". A thread_local with a
// destructor would make the C++ runtime hold the toolkit in memory for as
// long as the thread lives (on Windows and Linux alike), so a host's
// FreeLibrary or dlclose would not release it. Here the values belong to the
// slot: a thread's value is freed when the thread ends, and the values left
// when the module is unloaded. `Tag` tells apart slots of one type.
template <typename T, typename Tag>
class ThreadSlot {
 public:
  static T& Mine() {
    // Where the key could not take this thread's value, the value stays
    // until the module is unloaded.
    thread_local Node* unkeyed = nullptr;
    if (unkeyed != nullptr) return unkeyed->value;
    Slot& slot = Instance();
    if (void* mine = slot.key.Get()) return static_cast<Node*>(mine)->value;
    Node* node = slot.Add();
    if (!slot.key.Set(node)) unkeyed = node;
    return node->value;
  }

  // How many threads' values the slot holds.
  static size_t Held() {
    Slot& slot = Instance();
    std::lock_guard<std::mutex> guard(slot.mutex);
    return slot.values.size();
  }

 private:
  struct Slot;
  struct Node {
    Slot* slot;
    T value{};
  };
  struct Slot {
    // Set as the module unloads or the process exits, when the threads
    // still to hand back their values may have been stopped holding the
    // mutex: the values are freed with the slot instead.
    ~Slot() { closing = true; }
    std::atomic<bool> closing{false};
    std::mutex mutex;
    std::unordered_map<Node*, std::unique_ptr<Node>> values;
    // Last, so destroyed first: no thread hands its value back after that.
    ThreadKey key{&ThreadSlot::Release};

    Node* Add() {
      auto node = std::make_unique<Node>();
      node->slot = this;
      Node* added = node.get();
      std::lock_guard<std::mutex> guard(mutex);
      values.emplace(added, std::move(node));
      return added;
    }
  };

  static void Release(void* value) {
    Node* node = static_cast<Node*>(value);
    if (node->slot->closing) return;
    std::unique_ptr<Node> ended;
    {
      std::lock_guard<std::mutex> guard(node->slot->mutex);
      auto found = node->slot->values.find(node);
      if (found == node->slot->values.end()) return;
      ended = std::move(found->second);
      node->slot->values.erase(found);
    }
  }

  static Slot& Instance() {
    static Slot slot;
    return slot;
  }
};

}  // namespace veskar::pki

#endif  // VESKAR_PKI_THREAD_SLOT_H_
