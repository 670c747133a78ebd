#ifndef VESKAR_CMP_SYSTEM_TRUST_H_
#define VESKAR_CMP_SYSTEM_TRUST_H_

#include <openssl/ssl.h>

#include <string>

namespace veskar::cmp {

// Makes `tls` verify servers against what this system trusts: OpenSSL's
// default verify paths (the distribution's CA bundle) on POSIX, and on
// Windows, whose stores OpenSSL cannot read, the certificates of the ROOT
// store, read into `libctx`. False, with *error, when the store cannot be
// read.
bool TrustSystemStore(SSL_CTX* tls, OSSL_LIB_CTX* libctx, std::string* error);

}  // namespace veskar::cmp

#endif  // VESKAR_CMP_SYSTEM_TRUST_H_
