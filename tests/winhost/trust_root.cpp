// Adds a certificate (DER) to the machine's ROOT store, where Windows keeps
// the certification authorities it trusts, and checks that the store as a
// program opens it by name now holds it.
//
//   trust_root CERT.der

#include <windows.h>
// windows.h first: wincrypt.h needs its types.
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CERT.der\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<BYTE> der((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  HCERTSTORE machine =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (der.empty() || machine == nullptr ||
      !CertAddEncodedCertificateToStore(machine, X509_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::fprintf(stderr, "cannot add %s to the ROOT store: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  CertCloseStore(machine, 0);

  HCERTSTORE root = CertOpenSystemStoreW(0, L"ROOT");
  PCCERT_CONTEXT found = nullptr;
  while (root != nullptr && (found = CertEnumCertificatesInStore(root, found)) != nullptr) {
    if (found->cbCertEncoded == der.size() &&
        std::equal(der.begin(), der.end(), found->pbCertEncoded)) {
      break;
    }
  }
  const bool trusted = found != nullptr;
  if (found != nullptr) CertFreeCertificateContext(found);
  if (root != nullptr) CertCloseStore(root, 0);
  std::printf(trusted ? "trusted as a root: %s\n" : "not in the ROOT store: %s\n", argv[1]);
  return trusted ? 0 : 1;
}
