#ifndef VESKAR_STANDINS_COMMON_HANDLE_REGISTRY_H_
#define VESKAR_STANDINS_COMMON_HANDLE_REGISTRY_H_

#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace veskar::standins {

// A new handle value: a number counted up from 1, shared by every registry
// of the toolkit. Addresses would not do: a released object's memory is soon
// given to a new one, and its stale handle would then find the newcomer.
// Numbers are not reused until the counter wraps (2^64 handles on 64-bit
// systems), and a handle of one kind never names a live object of another.
inline void* NewHandleValue() {
  static std::atomic<std::uintptr_t> last{0};
  return reinterpret_cast<void*>(last.fetch_add(1) + 1);
}

// The live objects behind one kind of opaque handle. A toolkit hands out a
// fresh handle value for each object and looks every handle it is given up
// here, so that a null, stale (already released) or foreign handle is
// refused with a status instead of being dereferenced. One handle must not
// be used by two threads at once; different handles may.
template <typename T>
class HandleRegistry {
 public:
  // Takes ownership and returns the handle.
  void* Add(std::unique_ptr<T> object) {
    void* handle = NewHandleValue();
    std::lock_guard<std::mutex> guard(mutex_);
    live_[handle] = std::move(object);
    return handle;
  }

  // The object behind `handle`, or null when it is not live.
  T* Find(const void* handle) const {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = live_.find(handle);
    return it == live_.end() ? nullptr : it->second.get();
  }

  // Takes the object out (so it can be destroyed); null when not live.
  std::unique_ptr<T> Remove(const void* handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = live_.find(handle);
    if (it == live_.end()) return nullptr;
    std::unique_ptr<T> object = std::move(it->second);
    live_.erase(it);
    return object;
  }

  // Drops every object for which `doomed` is true.
  template <typename Predicate>
  void RemoveIf(Predicate doomed) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto it = live_.begin(); it != live_.end();) {
      it = doomed(*it->second) ? live_.erase(it) : std::next(it);
    }
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<const void*, std::unique_ptr<T>> live_;
};

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_HANDLE_REGISTRY_H_
