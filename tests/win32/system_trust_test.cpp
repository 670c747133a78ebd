// The system's trust store on Windows: the certificates of the ROOT store
// become OpenSSL's trusted certificates, as the root CAs they are.

#include "cmp/system_trust.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <string>

#include "pki/openssl_util.h"

namespace veskar::cmp {
namespace {

TEST(Win32SystemTrust, TheRootStoreBecomesTheTrustedCertificates) {
  const pki::LibCtxPtr libctx = pki::NewPrivateContext();
  ASSERT_TRUE(libctx);
  std::unique_ptr<SSL_CTX, pki::OpensslDeleter<SSL_CTX, SSL_CTX_free>> tls(
      SSL_CTX_new_ex(libctx.get(), nullptr, TLS_client_method()));
  ASSERT_TRUE(tls);
  std::string error;
  ASSERT_TRUE(TrustSystemStore(tls.get(), libctx.get(), &error)) << error;
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(SSL_CTX_get_cert_store(tls.get()));
  int self_signed = 0;
  for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
    X509* certificate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
    if (certificate != nullptr && X509_self_signed(certificate, 1) == 1) ++self_signed;
  }
  // Every Windows has root CAs (Wine takes its host's).
  EXPECT_GT(self_signed, 0);
}

}  // namespace
}  // namespace veskar::cmp
