// The system's trust store on POSIX: OpenSSL's default verify paths.

#include "cmp/system_trust.h"
#include "pki/openssl_util.h"

namespace veskar::cmp {

bool TrustSystemStore(SSL_CTX* tls, OSSL_LIB_CTX* /*libctx*/, std::string* error) {
  // The store of a context made in a private library context looks in the
  // same default places as any other.
  if (SSL_CTX_set_default_verify_paths(tls) == 1) return true;
  *error = pki::TakeOpensslError();
  return false;
}

}  // namespace veskar::cmp
