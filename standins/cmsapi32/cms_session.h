#ifndef VESKAR_STANDINS_CMSAPI32_CMS_SESSION_H_
#define VESKAR_STANDINS_CMSAPI32_CMS_SESSION_H_

#include <veskar/toolkit/cmsapi32.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "standins/common/client_ini.h"
#include "standins/common/handle_registry.h"

namespace veskar::cmsapi {

using pki::Bytes;

// The only certificate template this CA offers: a verification (signing)
// certificate for the key in the PKCS #10 request.
constexpr int32_t kVerificationTemplate = 2;
// The kind of KeyPair record that holds a verification certificate.
constexpr uint32_t kVerificationKeyPair = 2;

// What a login handle stands for: the CA named by the client INI file, the
// folder to publish into, and the reason for the last failure.
struct Session {
  standins::ClientSettings settings;
  int reason_code = 0;
  std::string reason;

  // Records why a call failed (or warned) for ENTGetEntErr; returns `status`.
  int Refuse(int status, std::string why) {
    reason_code = status;
    reason = std::move(why);
    return status;
  }
  void ClearReason() {
    reason_code = 0;
    reason.clear();
  }
};

// A certificate request: the attributes collected so far and, once issued,
// the certificates to retrieve.
struct Request {
  const Session* owner = nullptr;
  std::optional<pki::Secret> authorisation_code;  // wiped with the request
  std::optional<std::string> reference_number;
  int32_t publish = 0;
  std::optional<pki::Bytes> pkcs10;
  bool issued = false;
  pki::Bytes certificate;
  pki::Bytes ca_certificate;
};

struct CertTemplate {
  const Session* owner = nullptr;
  int32_t template_number = kVerificationTemplate;
};

standins::HandleRegistry<Session>& Sessions();
standins::HandleRegistry<Request>& Requests();
standins::HandleRegistry<CertTemplate>& Templates();

// Stores one request attribute (authorisation code, reference number,
// publish flag, PKCS #10 request). Returns a CmsStatus; the reason of a
// refusal is recorded in `session`.
int SetRequestAttribute(Session* session, Request* request, int attribute,
                        const CMSAttribValue* value);

// Stores one template field (only the template number). Same conventions.
int SetTemplateField(Session* session, CertTemplate* cert_template, int field,
                     const CMSAttribValue* value);

// Checks the request and has the CA issue its certificate, publishing it
// when the request asks for that. Returns kCmsOk, the warning
// kCmsValidityShortened, or a failure with its reason in `session`.
int IssueCertificate(Session* session, const CertTemplate& cert_template, Request* request);

// Copies of certificates handed to the caller, until CMSReleaseBuffer or
// CMSReleaseKeyPair gives them back. NewBuffer returns null for no bytes.
unsigned char* NewBuffer(const pki::Bytes& bytes);
// False when `data` is not a live buffer of this toolkit (nothing is freed).
bool FreeBuffer(const unsigned char* data);

}  // namespace veskar::cmsapi

#endif  // VESKAR_STANDINS_CMSAPI32_CMS_SESSION_H_
