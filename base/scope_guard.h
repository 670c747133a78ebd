#ifndef VESKAR_BASE_SCOPE_GUARD_H_
#define VESKAR_BASE_SCOPE_GUARD_H_

#include <utility>

namespace veskar {

// Runs a clean-up step when the scope ends, however it ends. Guards declared
// in the order things are acquired unwind in exactly the reverse order, on
// an early return and when an exception leaves the function alike. The
// destructor is noexcept: a step must not throw.
template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F step) : step_(std::move(step)) {}
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ~ScopeGuard() { Run(); }
  // Runs the step now, once; the end of the scope then does nothing.
  void Run() {
    if (!armed_) return;
    armed_ = false;
    step_();
  }
  // The step is no longer needed.
  void Dismiss() { armed_ = false; }

 private:
  F step_;
  bool armed_ = true;
};

}  // namespace veskar

#endif  // VESKAR_BASE_SCOPE_GUARD_H_
