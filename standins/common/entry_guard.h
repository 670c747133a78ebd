#ifndef VESKAR_STANDINS_COMMON_ENTRY_GUARD_H_
#define VESKAR_STANDINS_COMMON_ENTRY_GUARD_H_

#include "standins/common/openssl_guest.h"

namespace veskar::standins {

// Runs the body of a C entry point, after OpenSSL's set-up, and returns its
// status, or `failure` when it throws or OpenSSL cannot be set up: no
// exception may cross into a C caller, and the only ones the toolkits can
// meet are allocation failures. Every entry point that may touch OpenSSL
// runs its body here.
template <typename Status, typename Body>
Status Guarded(Status failure, Body body) {
  try {
    if (!StartOpenssl()) return failure;
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_ENTRY_GUARD_H_
