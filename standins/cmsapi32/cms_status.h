#ifndef VESKAR_STANDINS_CMSAPI32_CMS_STATUS_H_
#define VESKAR_STANDINS_CMSAPI32_CMS_STATUS_H_

#include "pki/outcome.h"
#include "standins/common/status_table.h"

namespace veskar::cmsapi {

// Statuses the CMS stand-in returns, each once: name, number, the
// enrollment outcome it reports, text. 0 is success; 100 to 199 are
// warnings (the call did its work; CMSQueryLogWarning says so); 1000 and
// above are failures. The numbers are this toolkit's and stay stable; 1038
// is retired (an expired CA is reported as kCmsCaUnavailable, with the
// date in the reason: CMP has no failure bit that tells it apart).
#define VESKAR_CMS_STATUSES(X)                                                                     \
  X(kCmsOk, 0, Outcome::kOk, "success")                                                            \
  X(kCmsValidityShortened, 101, kNoOutcome,                                                        \
    "certificate issued; its validity was shortened to end with the CA certificate's")             \
  X(kCmsBadArgument, 1001, kNoOutcome, "an argument is missing or not acceptable")                 \
  X(kCmsBadHandle, 1002, kNoOutcome, "the handle is not a live handle of this toolkit")            \
  X(kCmsVersionMismatch, 1003, kNoOutcome, "the client asked for another toolkit version")         \
  X(kCmsInternalError, 1004, kNoOutcome, "the toolkit failed internally (out of memory?)")         \
  X(kCmsIniUnreadable, 1010, kNoOutcome, VESKAR_INI_UNREADABLE_TEXT)                               \
  X(kCmsCaUnavailable, 1011, Outcome::kUnavailable, VESKAR_CA_UNAVAILABLE_TEXT)                    \
  X(kCmsUnknownAttribute, 1020, kNoOutcome, "unknown request attribute")                           \
  X(kCmsBadAttributeValue, 1021, kNoOutcome, "the request attribute's value is not acceptable")    \
  X(kCmsUnknownField, 1022, kNoOutcome, "unknown certificate template field")                      \
  X(kCmsBadFieldValue, 1023, kNoOutcome, "the template field's value is not acceptable")           \
  X(kCmsRequestIncomplete, 1030, kNoOutcome, "the certificate request lacks a required attribute") \
  X(kCmsBadReferenceNumber, 1031, kNoOutcome, "the reference number is not a number")              \
  X(kCmsUnknownReferenceNumber, 1032, Outcome::kUnknownReference,                                  \
    "the reference number is not registered")                                                      \
  X(kCmsAuthorisationFailed, 1033, Outcome::kCodeMismatch,                                         \
    "the authorisation code does not match the reference number")                                  \
  X(kCmsAlreadyUsed, 1034, Outcome::kAlreadyUsed,                                                  \
    "the reference number and authorisation code were already used")                               \
  X(kCmsBadPkcs10, 1035, kNoOutcome, "the PKCS #10 request cannot be read")                        \
  X(kCmsPkcs10Signature, 1036, Outcome::kBadProof,                                                 \
    "the PKCS #10 request's signature does not verify")                                            \
  X(kCmsKeyRejected, 1037, Outcome::kKeyRejected, "the request's public key is not acceptable")    \
  X(kCmsIssueFailed, 1039, Outcome::kFailed,                                                       \
    "the certificate authority could not issue the certificate")                                   \
  X(kCmsPublishFailed, 1040, Outcome::kRejectedLocally, "the certificate could not be published")  \
  X(kCmsAlreadyIssued, 1041, kNoOutcome, "a certificate was already issued on this request")       \
  X(kCmsNotIssued, 1042, kNoOutcome, "no certificate was issued on this request")                  \
  X(kCmsProtectedFileError, 1050, kNoOutcome, "the protected-data file cannot be read or written") \
  X(kCmsProtectedNoItem, 1051, kNoOutcome,                                                         \
    "the protected-data file holds no item with that label")                                       \
  X(kCmsProtectedWrongProtection, 1052, kNoOutcome,                                                \
    "the protection string does not open the item")                                                \
  X(kCmsProtectedDamaged, 1053, kNoOutcome, "the protected-data file is damaged")                  \
  X(kCmsProtectedTooLarge, 1054, kNoOutcome, "the protected data is too large")                    \
  X(kCmsProtectedTooCostly, 1055, kNoOutcome,                                                      \
    "the protected-data file asks for more key-derivation work or memory than allowed")

#define VESKAR_CMS_STATUS_NUMBER(name, number, outcome, text) constexpr int name = number;
VESKAR_CMS_STATUSES(VESKAR_CMS_STATUS_NUMBER)
#undef VESKAR_CMS_STATUS_NUMBER

// The fixed text of a status; "unknown status" for numbers not listed.
const char* StatusText(int status);

// True for the warning range.
bool IsWarning(int status);

// The status that reports an enrollment's `outcome`.
int StatusFor(pki::Outcome outcome);

}  // namespace veskar::cmsapi

#endif  // VESKAR_STANDINS_CMSAPI32_CMS_STATUS_H_
