#ifndef VESKAR_PKI_CMP_UTIL_H_
#define VESKAR_PKI_CMP_UTIL_H_

#include <openssl/cmp.h>

#include <memory>
#include <string>

#include "pki/openssl_util.h"

namespace veskar::pki {

using CtxPtr = std::unique_ptr<OSSL_CMP_CTX, pki::OpensslDeleter<OSSL_CMP_CTX, OSSL_CMP_CTX_free>>;
using SrvCtxPtr =
    std::unique_ptr<OSSL_CMP_SRV_CTX, pki::OpensslDeleter<OSSL_CMP_SRV_CTX, OSSL_CMP_SRV_CTX_free>>;
using MsgPtr = std::unique_ptr<OSSL_CMP_MSG, pki::OpensslDeleter<OSSL_CMP_MSG, OSSL_CMP_MSG_free>>;

// Body types of CMP messages (the PKIBody choice numbers), as
// OSSL_CMP_MSG_get_bodytype returns them; OpenSSL 3.0 does not export names.
constexpr int kBodyIr = 0;
constexpr int kBodyCr = 2;
constexpr int kBodyP10cr = 4;
constexpr int kBodyKur = 7;
constexpr int kBodyRr = 11;
constexpr int kBodyGenm = 21;
constexpr int kBodyError = 23;
constexpr int kBodyCertConf = 24;
constexpr int kBodyPollReq = 25;

// Routes a context's log output away from stdout: the last error-level line
// of the calling thread is kept for LastLogError. False on failure.
bool Quiet(OSSL_CMP_CTX* context);

// The last error OpenSSL's CMP code logged on this thread ("" when none),
// and forgets it.
std::string TakeLastLogError();

// Sets the shared secret of password-based protection.
bool SetSecret(OSSL_CMP_CTX* context, const std::string& secret);

// Upper-case hexadecimal of an octet string; "" for none.
std::string HexText(const ASN1_OCTET_STRING* octets);

// `text` with anything but printable ASCII shown as '?', at most 64
// characters: for quoting what a peer sent in a message or a log.
std::string Printable(const std::string& text);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_CMP_UTIL_H_
