#ifndef VESKAR_CA_DER_FIELDS_H_
#define VESKAR_CA_DER_FIELDS_H_

#include <openssl/cmp.h>
#include <openssl/crmf.h>

#include <optional>
#include <string>

#include "pki/openssl_util.h"

// Fields of CMP structures that OpenSSL 3.0 parses but offers no getter
// for. Each is read from OpenSSL's own DER encoding of the parsed structure
// with its TLV reader (ASN1_get_object), which checks every length against
// the bytes that are there.
namespace veskar::ca {

// The header's senderKID (the reference number under password-based
// protection); nullopt when the header has none.
std::optional<std::string> SenderKeyId(const OSSL_CMP_MSG* message);

// The status number of a PKIStatusInfo (accepted 0, grantedWithMods 1,
// rejection 2, ...); -1 when it cannot be read.
int PkiStatusOf(const OSSL_CMP_PKISI* status_info);

// The public key of a certificate request message's template; null when it
// has none.
pki::EvpPkeyPtr TemplatePublicKey(const OSSL_CRMF_MSG* request);

}  // namespace veskar::ca

#endif  // VESKAR_CA_DER_FIELDS_H_
