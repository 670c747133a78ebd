#ifndef VESKAR_TESTS_TOOLKITS_TEST_PKI_H_
#define VESKAR_TESTS_TOOLKITS_TEST_PKI_H_

#include <string>

#include "ca/local_ca.h"
#include "pki/openssl_util.h"
#include "standins/cmsapi32/published_name.h"

namespace veskar::toolkit_test {

using pki::Bytes;

// A fresh folder under the temporary directory, removed with everything in
// it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A CA in a scratch folder with one registered user.
struct TestCa {
  explicit TestCa(int days = ca::LocalCa::kDefaultCaDays);

  ScratchDir scratch;
  std::string directory;  // the CA folder, inside scratch
  std::unique_ptr<ca::LocalCa> ca;
  ca::RegisteredUser user;  // CN=Test User, O=Veskar Tests

  // Registers another user and returns it.
  ca::RegisteredUser AddUser(const std::string& subject);
};

// Writes a client INI file the way the library does and returns its path.
std::string WriteClientIni(const ScratchDir& scratch, const std::string& ca_directory,
                           const std::string& publish_directory);

pki::EvpPkeyPtr NewRsaKey(int bits);

// A PKCS #10 request for `key`, signed by it, in DER (or PEM).
Bytes SignedRequest(EVP_PKEY* key, const std::string& common_name, bool pem = false);

pki::X509Ptr ParseCertificate(const Bytes& der);

// True when `certificate` chains to `ca` (the only trusted certificate).
bool VerifiesAgainst(X509* certificate, X509* ca);

// What a host may do to the process's default OpenSSL context: while the
// object lives, its default properties ask for a provider that is not
// there, so that nothing can be fetched in it.
class HostFetchesNothing {
 public:
  HostFetchesNothing();
  ~HostFetchesNothing();
  HostFetchesNothing(const HostFetchesNothing&) = delete;
  HostFetchesNothing& operator=(const HostFetchesNothing&) = delete;

  // Whether the properties were set, and fetching in the context now fails.
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// The permission bits of `path`, or -1 when it does not exist.
int FileMode(const std::string& path);
int FileCount(const std::string& directory);

}  // namespace veskar::toolkit_test

#endif  // VESKAR_TESTS_TOOLKITS_TEST_PKI_H_
