#include "standins/common/openssl_guest.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

namespace veskar::standins {

#ifdef VESKAR_OPENSSL_PRIVATE_COPY

bool StartOpenssl() {
  constexpr uint64_t kGuest = OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_NO_LOAD_CONFIG;
  // OpenSSL keeps the options of its first initialisation, which this is.
  static const bool started =
      OPENSSL_init_crypto(kGuest, nullptr) == 1 && OPENSSL_init_ssl(kGuest, nullptr) == 1;
  return started;
}

void EndOpensslThread() { OPENSSL_thread_stop(); }

void StopOpenssl() { OPENSSL_cleanup(); }

#else

bool StartOpenssl() { return true; }
void EndOpensslThread() {}
void StopOpenssl() {}

#endif

}  // namespace veskar::standins
