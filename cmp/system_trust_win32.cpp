// The system's trust store on Windows: the ROOT certificate store, read
// with CryptoAPI, as OpenSSL cannot read it itself.

#include <openssl/err.h>

#include "cmp/system_trust.h"
#include "pki/openssl_util.h"

// Last: wincrypt.h needs windows.h before it, and its macros (X509_NAME among
// them) would rewrite OpenSSL's declarations after it.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

namespace veskar::cmp {

bool TrustSystemStore(SSL_CTX* tls, OSSL_LIB_CTX* libctx, std::string* error) {
  HCERTSTORE root = CertOpenSystemStoreW(0, L"ROOT");
  if (root == nullptr) {
    *error = "cannot open the Windows ROOT certificate store (error " +
             std::to_string(GetLastError()) + ")";
    return false;
  }
  X509_STORE* trusted = SSL_CTX_get_cert_store(tls);
  PCCERT_CONTEXT entry = nullptr;
  while ((entry = CertEnumCertificatesInStore(root, entry)) != nullptr) {
    if ((entry->dwCertEncodingType & X509_ASN_ENCODING) == 0) continue;
    // One the store holds but OpenSSL cannot read is left out, not fatal.
    pki::X509Ptr certificate =
        pki::CertificateFromBytes(entry->pbCertEncoded, entry->cbCertEncoded, libctx);
    if (certificate) X509_STORE_add_cert(trusted, certificate.get());
  }
  CertCloseStore(root, 0);
  ERR_clear_error();
  return true;
}

}  // namespace veskar::cmp
