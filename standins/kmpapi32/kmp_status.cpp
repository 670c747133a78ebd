#include "standins/kmpapi32/kmp_status.h"

namespace veskar::kmpapi {

const char* StatusText(short status) {
  switch (status) {
    case kKmpOk:
      return "success";
    case kKmpBadArgument:
      return "an argument is missing or not acceptable";
    case kKmpBadHandle:
      return "the login handle is not a live handle of this toolkit";
    case kKmpInternalError:
      return "the toolkit failed internally (out of memory?)";
    case kKmpIniUnreadable:
      return "the client INI file is missing or cannot be read, or it has no Manager= entry "
             "naming the certificate authority's folder";
    case kKmpCaUnavailable:
      return "the folder the client INI file names as the certificate authority (Manager=) "
             "holds none: its ca.pem is missing or not a certificate, or its ca.key is missing or "
             "not the key of ca.pem";
    case kKmpBadReferenceNumber:
      return "the reference number is not a positive number";
    case kKmpUnknownReferenceNumber:
      return "the reference number is not registered";
    case kKmpAuthorisationFailed:
      return "the authorisation code does not match the reference number";
    case kKmpAlreadyUsed:
      return "the reference number and authorisation code were already used";
    case kKmpCaExpired:
      return "the CA certificate has expired";
    case kKmpIssueFailed:
      return "the certificate authority could not issue the certificate";
    case kKmpProfileExists:
      return "a profile already exists at that path";
    case kKmpProfileWriteFailed:
      return "the profile cannot be written";
    case kKmpProfileUnreadable:
      return "the profile cannot be read";
    case kKmpWrongPassword:
      return "the password does not open the profile";
    case kKmpProfileDamaged:
      return "the profile is damaged or incomplete";
    case kKmpNoSuchCertificate:
      return "the profile holds no certificate of that kind";
    default:
      return "unknown status";
  }
}

}  // namespace veskar::kmpapi
