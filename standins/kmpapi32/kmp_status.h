#ifndef VESKAR_STANDINS_KMPAPI32_KMP_STATUS_H_
#define VESKAR_STANDINS_KMPAPI32_KMP_STATUS_H_

namespace veskar::kmpapi {

// Statuses the IPSec stand-in returns; 0 is success, anything else a
// failure. Each cause has its own number, because this toolkit has no
// separate reason channel: IKMPGetErrString is all a caller gets.
constexpr short kKmpOk = 0;
constexpr short kKmpBadArgument = 1;
constexpr short kKmpBadHandle = 2;
constexpr short kKmpInternalError = 3;

constexpr short kKmpIniUnreadable = 10;
constexpr short kKmpCaUnavailable = 11;
constexpr short kKmpBadReferenceNumber = 12;
constexpr short kKmpUnknownReferenceNumber = 13;
constexpr short kKmpAuthorisationFailed = 14;
constexpr short kKmpAlreadyUsed = 15;
constexpr short kKmpCaExpired = 16;
constexpr short kKmpIssueFailed = 17;

constexpr short kKmpProfileExists = 20;
constexpr short kKmpProfileWriteFailed = 21;
constexpr short kKmpProfileUnreadable = 22;
constexpr short kKmpWrongPassword = 23;
constexpr short kKmpProfileDamaged = 24;

constexpr short kKmpNoSuchCertificate = 30;

// The fixed text of a status; "unknown status" for numbers not listed.
const char* StatusText(short status);

}  // namespace veskar::kmpapi

#endif  // VESKAR_STANDINS_KMPAPI32_KMP_STATUS_H_
