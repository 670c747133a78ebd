#include "standins/cmsapi32/cms_status.h"

namespace veskar::cmsapi {

const char* StatusText(int status) {
  switch (status) {
    case kCmsOk:
      return "success";
    case kCmsValidityShortened:
      return "certificate issued; its validity was shortened to end with the CA certificate's";
    case kCmsBadArgument:
      return "an argument is missing or not acceptable";
    case kCmsBadHandle:
      return "the handle is not a live handle of this toolkit";
    case kCmsVersionMismatch:
      return "the client asked for another toolkit version";
    case kCmsInternalError:
      return "the toolkit failed internally (out of memory?)";
    case kCmsIniUnreadable:
      return "the client INI file is missing or cannot be read, or it has no Manager= entry "
             "naming the certificate authority's folder";
    case kCmsCaUnavailable:
      return "the folder the client INI file names as the certificate authority (Manager=) "
             "holds none: its ca.pem is missing or not a certificate, or its ca.key is missing or "
             "not the key of ca.pem";
    case kCmsUnknownAttribute:
      return "unknown request attribute";
    case kCmsBadAttributeValue:
      return "the request attribute's value is not acceptable";
    case kCmsUnknownField:
      return "unknown certificate template field";
    case kCmsBadFieldValue:
      return "the template field's value is not acceptable";
    case kCmsRequestIncomplete:
      return "the certificate request lacks a required attribute";
    case kCmsBadReferenceNumber:
      return "the reference number is not a number";
    case kCmsUnknownReferenceNumber:
      return "the reference number is not registered";
    case kCmsAuthorisationFailed:
      return "the authorisation code does not match the reference number";
    case kCmsAlreadyUsed:
      return "the reference number and authorisation code were already used";
    case kCmsBadPkcs10:
      return "the PKCS #10 request cannot be read";
    case kCmsPkcs10Signature:
      return "the PKCS #10 request's signature does not verify";
    case kCmsKeyRejected:
      return "the request's public key is not acceptable";
    case kCmsCaExpired:
      return "the CA certificate has expired";
    case kCmsIssueFailed:
      return "the certificate authority could not issue the certificate";
    case kCmsPublishFailed:
      return "the certificate could not be published";
    case kCmsAlreadyIssued:
      return "a certificate was already issued on this request";
    case kCmsNotIssued:
      return "no certificate was issued on this request";
    case kCmsProtectedFileError:
      return "the protected-data file cannot be read or written";
    case kCmsProtectedNoItem:
      return "the protected-data file holds no item with that label";
    case kCmsProtectedWrongProtection:
      return "the protection string does not open the item";
    case kCmsProtectedDamaged:
      return "the protected-data file is damaged";
    case kCmsProtectedTooLarge:
      return "the protected data is too large";
    case kCmsProtectedTooCostly:
      return "the protected-data file asks for more key-derivation work or memory than allowed";
    default:
      return "unknown status";
  }
}

bool IsWarning(int status) { return status >= 100 && status <= 199; }

}  // namespace veskar::cmsapi
