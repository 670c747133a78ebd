#ifndef VESKAR_STANDINS_COMMON_ENTRY_GUARD_H_
#define VESKAR_STANDINS_COMMON_ENTRY_GUARD_H_

namespace veskar::standins {

// Runs the body of a C entry point and returns its status, or `failure`
// when it throws: no exception may cross into a C caller, and the only ones
// the toolkits can meet are allocation failures.
template <typename Status, typename Body>
Status Guarded(Status failure, Body body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_ENTRY_GUARD_H_
