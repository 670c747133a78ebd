#ifndef VESKAR_STANDINS_CMSAPI32_PUBLISHED_NAME_H_
#define VESKAR_STANDINS_CMSAPI32_PUBLISHED_NAME_H_

#include <openssl/x509.h>

#include <string>

namespace veskar::cmsapi {

// The file name a published certificate takes in a directory folder,
// "<ISSUER>-<SERIAL>.der": ISSUER is the first 8 bytes of the certificate's
// authority key identifier (the issuing CA's key) in upper-case hexadecimal,
// or the issuer name's 8-digit hash when it has none; SERIAL as SerialText.
// The issuer part keeps apart certificates of different CAs that share one
// folder, should their random serials ever meet.
std::string PublishedFileName(X509* certificate);

}  // namespace veskar::cmsapi

#endif  // VESKAR_STANDINS_CMSAPI32_PUBLISHED_NAME_H_
