#include "test_pki.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "pki/distinguished_name.h"

namespace veskar::toolkit_test {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/veskar-toolkit-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

TestCa::TestCa(int days) : directory(scratch.File("ca")) {
  const ca::CaStatus created = ca::LocalCa::Create(directory, ca::LocalCa::kDefaultSubject, days);
  EXPECT_TRUE(created.ok()) << created.message;
  const ca::CaStatus opened = ca::LocalCa::Open(directory, &ca);
  EXPECT_TRUE(opened.ok()) << opened.message;
  if (ca) user = AddUser("CN=Test User, O=Veskar Tests");
}

ca::RegisteredUser TestCa::AddUser(const std::string& subject) {
  ca::RegisteredUser added;
  const ca::CaStatus status = ca->AddUser(subject, &added);
  EXPECT_TRUE(status.ok()) << status.message;
  return added;
}

std::string WriteClientIni(const ScratchDir& scratch, const std::string& ca_directory,
                           const std::string& publish_directory) {
  const std::string path = scratch.File("client.ini");
  WriteFile(path, "[Entrust Settings]\nManager=" + ca_directory + "+709\nServer=" +
                      publish_directory + "+389\nClientType=Heavy\nSigningKey=DSA");
  return path;
}

pki::EvpPkeyPtr NewRsaKey(int bits) {
  return pki::EvpPkeyPtr(EVP_RSA_gen(static_cast<unsigned int>(bits)));
}

Bytes SignedRequest(EVP_PKEY* key, const std::string& common_name, bool pem) {
  pki::X509ReqPtr request(X509_REQ_new());
  std::string error;
  pki::X509NamePtr name = pki::ParseName("CN=" + common_name, &error);
  EXPECT_TRUE(request && name && X509_REQ_set_subject_name(request.get(), name.get()) == 1 &&
              X509_REQ_set_pubkey(request.get(), key) == 1 &&
              X509_REQ_sign(request.get(), key, EVP_sha256()) > 0);
  if (pem) {
    pki::BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509_REQ(bio.get(), request.get());
    char* text = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &text);
    return Bytes(text, text + length);
  }
  unsigned char* der = nullptr;
  const int length = i2d_X509_REQ(request.get(), &der);
  Bytes out(der, der + (length > 0 ? length : 0));
  OPENSSL_free(der);
  return out;
}

pki::X509Ptr ParseCertificate(const Bytes& der) {
  return pki::CertificateFromBytes(der.data(), der.size());
}

bool VerifiesAgainst(X509* certificate, X509* ca) {
  X509_STORE* store = X509_STORE_new();
  X509_STORE_CTX* context = X509_STORE_CTX_new();
  const bool ok = store != nullptr && context != nullptr && X509_STORE_add_cert(store, ca) == 1 &&
                  X509_STORE_CTX_init(context, store, certificate, nullptr) == 1 &&
                  X509_verify_cert(context) == 1;
  X509_STORE_CTX_free(context);
  X509_STORE_free(store);
  return ok;
}

HostFetchesNothing::HostFetchesNothing() {
  if (EVP_set_default_properties(nullptr, "provider=nonexistent") != 1) return;
  EVP_MD* digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  ok_ = digest == nullptr;
  EVP_MD_free(digest);
}

HostFetchesNothing::~HostFetchesNothing() { EVP_set_default_properties(nullptr, ""); }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  EXPECT_TRUE(out.good()) << "cannot write " << path;
}

int FileMode(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int>(info.st_mode & 07777);
}

int FileCount(const std::string& directory) {
  int count = 0;
  std::error_code ignored;
  for (auto it = std::filesystem::directory_iterator(directory, ignored);
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

}  // namespace veskar::toolkit_test
