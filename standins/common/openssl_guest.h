#ifndef VESKAR_STANDINS_COMMON_OPENSSL_GUEST_H_
#define VESKAR_STANDINS_COMMON_OPENSSL_GUEST_H_

namespace veskar::standins {

// OpenSSL in a host's process. Where each toolkit links a static copy of
// OpenSSL of its own (Windows; the build defines
// VESKAR_OPENSSL_PRIVATE_COPY), that copy is set up before its first use
// without an exit handler, which would be left in a DLL the host may unload
// before it exits, and without a configuration file, which the cross-built
// copy would look for in a folder any user may make; and it is torn down
// when the host unloads the DLL. Where the toolkits use the system's shared
// libcrypto (Linux), which the host may use itself, the process's OpenSSL
// state is the host's: these calls do nothing.

// Sets up the private copy, once; every entry point that may touch OpenSSL
// calls it first (Guarded does), and nothing calls OpenSSL before one does:
// no static initialiser of the toolkits calls it. False when OpenSSL
// cannot be set up.
bool StartOpenssl();

// Frees what the calling thread holds in the private copy; for a thread
// that is ending.
void EndOpensslThread();

// Tears the private copy down, when its DLL is unloaded; OpenSSL cannot be
// used in it afterwards.
void StopOpenssl();

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_OPENSSL_GUEST_H_
