#ifndef VESKAR_STANDINS_KMPAPI32_KMP_STATUS_H_
#define VESKAR_STANDINS_KMPAPI32_KMP_STATUS_H_

#include "pki/outcome.h"
#include "standins/common/status_table.h"

namespace veskar::kmpapi {

// Statuses the IPSec stand-in returns, each once: name, number, the
// enrollment outcome it reports, text. 0 is success, anything else a
// failure. Each cause has its own number, because the library's agent
// reads no reason besides: IKMPGetErrString of the status is all a host
// gets. 16 is
// retired (an expired CA is reported as kKmpCaUnavailable: CMP has no
// failure bit that tells it apart).
#define VESKAR_KMP_STATUSES(X)                                                               \
  X(kKmpOk, 0, Outcome::kOk, "success")                                                      \
  X(kKmpBadArgument, 1, kNoOutcome, "an argument is missing or not acceptable")              \
  X(kKmpBadHandle, 2, kNoOutcome, "the login handle is not a live handle of this toolkit")   \
  X(kKmpInternalError, 3, kNoOutcome, "the toolkit failed internally (out of memory?)")      \
  X(kKmpIniUnreadable, 10, kNoOutcome, VESKAR_INI_UNREADABLE_TEXT)                           \
  X(kKmpCaUnavailable, 11, Outcome::kUnavailable, VESKAR_CA_UNAVAILABLE_TEXT)                \
  X(kKmpBadReferenceNumber, 12, kNoOutcome, "the reference number is not a positive number") \
  X(kKmpUnknownReferenceNumber, 13, Outcome::kUnknownReference,                              \
    "the reference number is not registered")                                                \
  X(kKmpAuthorisationFailed, 14, Outcome::kCodeMismatch,                                     \
    "the authorisation code does not match the reference number")                            \
  X(kKmpAlreadyUsed, 15, Outcome::kAlreadyUsed,                                              \
    "the reference number and authorisation code were already used")                         \
  X(kKmpIssueFailed, 17, Outcome::kFailed,                                                   \
    "the certificate authority could not issue the certificate")                             \
  X(kKmpProfileExists, 20, kNoOutcome, "a profile already exists at that path")              \
  X(kKmpProfileWriteFailed, 21, kNoOutcome, "the profile cannot be written")                 \
  X(kKmpProfileUnreadable, 22, kNoOutcome, "the profile cannot be read")                     \
  X(kKmpWrongPassword, 23, kNoOutcome, "the password does not open the profile")             \
  X(kKmpProfileDamaged, 24, kNoOutcome, "the profile is damaged or incomplete")              \
  X(kKmpNoSuchCertificate, 30, kNoOutcome, "the profile holds no certificate of that kind")

// What IKMPGetErrString gives for this number, which no status has: the
// reason of the last failed IKMPCreateUser or IKMPLogin on the calling
// thread, "" when it had none. The veskar command asks for it; the
// library never does.
constexpr short kKmpLastReason = -1;

#define VESKAR_KMP_STATUS_NUMBER(name, number, outcome, text) constexpr short name = number;
VESKAR_KMP_STATUSES(VESKAR_KMP_STATUS_NUMBER)
#undef VESKAR_KMP_STATUS_NUMBER

// The fixed text of a status; "unknown status" for numbers not listed.
const char* StatusText(short status);

// The status that reports an enrollment's `outcome`; outcomes of no row of
// their own (a rejected key, say) are kKmpIssueFailed.
short StatusFor(pki::Outcome outcome);

}  // namespace veskar::kmpapi

#endif  // VESKAR_STANDINS_KMPAPI32_KMP_STATUS_H_
