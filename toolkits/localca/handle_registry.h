#ifndef VESKAR_TOOLKITS_LOCALCA_HANDLE_REGISTRY_H_
#define VESKAR_TOOLKITS_LOCALCA_HANDLE_REGISTRY_H_

#include <iterator>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace veskar::localca {

// The live objects behind one kind of opaque handle. A toolkit hands out the
// object's address and looks every handle it is given up here, so that a
// null, stale (already released) or foreign handle is refused with a status
// instead of being dereferenced. One handle must not be used by two threads
// at once; different handles may.
template <typename T>
class HandleRegistry {
 public:
  // Takes ownership and returns the handle.
  void* Add(std::unique_ptr<T> object) {
    T* raw = object.get();
    std::lock_guard<std::mutex> guard(mutex_);
    live_[raw] = std::move(object);
    return raw;
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

}  // namespace veskar::localca

#endif  // VESKAR_TOOLKITS_LOCALCA_HANDLE_REGISTRY_H_
