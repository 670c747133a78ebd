#ifndef VESKAR_CA_DER_FIELDS_H_
#define VESKAR_CA_DER_FIELDS_H_

#include <openssl/cmp.h>
#include <openssl/crmf.h>

#include <optional>
#include <string>

#include "pki/cmp_util.h"
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

// The protection a message's header names: the algorithm's NID and, for a
// password-based MAC, its parameters (NID_undef or -1 where they cannot be
// read). nullopt when the header names no protection.
struct MacParameters {
  int algorithm = NID_undef;
  int owf = NID_undef;  // the one-way function (hash)
  int mac = NID_undef;
  long iterations = -1;
  long salt_length = -1;
};
std::optional<MacParameters> ProtectionOf(const OSSL_CMP_MSG* message);

// The public key an ir, cr, kur (its first request) or p10cr asks to have
// certified; null when there is none or it cannot be read.
pki::EvpPkeyPtr RequestedPublicKey(const OSSL_CMP_MSG* message);

// A certificate request to answer a refused one with: the header of
// `request` without its protection, and one request that asks for nothing,
// its proof of possession vouched for by an RA, under the original's
// certReqId, of the body type that gets the right answer (ip for an ir, kup
// for a kur, cp for the others). Answering it checks no signature or MAC of
// the original. Null when it cannot be made.
pki::MsgPtr RefusalRequest(const OSSL_CMP_MSG* request);

}  // namespace veskar::ca

#endif  // VESKAR_CA_DER_FIELDS_H_
