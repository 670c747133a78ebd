#include "e2e_support.h"

namespace veskar::e2e {

Bytes TakeBuffer(unsigned char* data, unsigned int length) {
  Bytes bytes(data, data + (data != nullptr ? length : 0));
  delete[] data;
  return bytes;
}

Outcome EnrollCms(const CmsInput& in) {
  Bytes pkcs10 = in.pkcs10;
  CQnPMCrtUsrEntCms record("e2e", in.ca_location.c_str(), in.directory.c_str(),
                           in.authorisation_code.c_str(), in.reference_number.c_str(), in.publish,
                           pkcs10.empty() ? nullptr : pkcs10.data(),
                           static_cast<unsigned int>(pkcs10.size()));
  return Enroll<CQnEntCmsPMA>(record);
}

bool SamePublicKey(X509* certificate, EVP_PKEY* key) {
  return certificate != nullptr && EVP_PKEY_eq(X509_get0_pubkey(certificate), key) == 1;
}

}  // namespace veskar::e2e
