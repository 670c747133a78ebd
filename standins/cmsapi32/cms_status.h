#ifndef VESKAR_STANDINS_CMSAPI32_CMS_STATUS_H_
#define VESKAR_STANDINS_CMSAPI32_CMS_STATUS_H_

namespace veskar::cmsapi {

// Statuses the CMS stand-in returns. 0 is success; 100 to 199 are warnings
// (the call did its work; CMSQueryLogWarning says so); 1000 and above are
// failures. The numbers are this toolkit's and stay stable.
constexpr int kCmsOk = 0;

constexpr int kCmsValidityShortened = 101;  // warning: certificate ends with the CA's

constexpr int kCmsBadArgument = 1001;
constexpr int kCmsBadHandle = 1002;
constexpr int kCmsVersionMismatch = 1003;
constexpr int kCmsInternalError = 1004;

constexpr int kCmsIniUnreadable = 1010;
constexpr int kCmsCaUnavailable = 1011;

constexpr int kCmsUnknownAttribute = 1020;
constexpr int kCmsBadAttributeValue = 1021;
constexpr int kCmsUnknownField = 1022;
constexpr int kCmsBadFieldValue = 1023;

constexpr int kCmsRequestIncomplete = 1030;
constexpr int kCmsBadReferenceNumber = 1031;
constexpr int kCmsUnknownReferenceNumber = 1032;
constexpr int kCmsAuthorisationFailed = 1033;
constexpr int kCmsAlreadyUsed = 1034;
constexpr int kCmsBadPkcs10 = 1035;
constexpr int kCmsPkcs10Signature = 1036;
constexpr int kCmsKeyRejected = 1037;
constexpr int kCmsCaExpired = 1038;
constexpr int kCmsIssueFailed = 1039;
constexpr int kCmsPublishFailed = 1040;
constexpr int kCmsAlreadyIssued = 1041;
constexpr int kCmsNotIssued = 1042;

constexpr int kCmsProtectedFileError = 1050;
constexpr int kCmsProtectedNoItem = 1051;
constexpr int kCmsProtectedWrongProtection = 1052;
constexpr int kCmsProtectedDamaged = 1053;
constexpr int kCmsProtectedTooLarge = 1054;
constexpr int kCmsProtectedTooCostly = 1055;

// The fixed text of a status; "unknown status" for numbers not listed.
const char* StatusText(int status);

// True for the warning range.
bool IsWarning(int status);

}  // namespace veskar::cmsapi

#endif  // VESKAR_STANDINS_CMSAPI32_CMS_STATUS_H_
