// The CMS client toolkit's entry points, enrolling over CMP at the CA the
// client INI file names (a server's URL or a local CA's folder). Each entry
// refuses null, stale or foreign handles and arguments with a status instead
// of touching them, and lets no exception cross the C boundary.

#include <veskar/toolkit/cmsapi32.h>

#include <cstring>
#include <memory>
#include <string>

#include "pki/thread_slot.h"
#include "standins/cmsapi32/cms_session.h"
#include "standins/cmsapi32/cms_status.h"
#include "standins/cmsapi32/protected_store.h"
#include "standins/common/entry_guard.h"

namespace veskar::cmsapi {
namespace {

constexpr char kVersion[] = "Veskar CMS stand-in 1.0";

// Runs `body` with the session of `login`, its reason cleared for the new
// call; a handle that is not a live login is refused.
template <typename Body>
int InSession(const void* login, Body body) {
  return standins::Guarded(kCmsInternalError, [&] {
    Session* session = Sessions().Find(login);
    if (session == nullptr) return kCmsBadHandle;
    session->ClearReason();
    return body(session);
  });
}

template <typename T>
const char* KindOf();
template <>
const char* KindOf<Request>() {
  return "request handle";
}
template <>
const char* KindOf<CertTemplate>() {
  return "certificate template";
}

// The object behind `handle` when it is a live handle of `session`;
// otherwise null, with the refusal recorded.
template <typename T>
T* OwnedBy(Session* session, standins::HandleRegistry<T>& registry, const void* handle) {
  T* found = registry.Find(handle);
  if (found != nullptr && found->owner == session) return found;
  session->Refuse(kCmsBadHandle, std::string("not a live ") + KindOf<T>() + " of this login");
  return nullptr;
}

template <typename T>
int NewHandle(Session* session, standins::HandleRegistry<T>& registry, void** handle) {
  if (handle == nullptr) {
    return session->Refuse(kCmsBadArgument, std::string("no place for the ") + KindOf<T>());
  }
  auto made = std::make_unique<T>();
  made->owner = session;
  *handle = registry.Add(std::move(made));
  return kCmsOk;
}

template <typename T>
int ReleaseHandle(Session* session, standins::HandleRegistry<T>& registry, void** handle) {
  if (handle == nullptr) {
    return session->Refuse(kCmsBadArgument, std::string("no ") + KindOf<T>() + " given");
  }
  if (OwnedBy(session, registry, *handle) == nullptr) return kCmsBadHandle;
  registry.Remove(*handle);
  *handle = nullptr;
  return kCmsOk;
}

// Bytes handed out by ENTGetProtectedData, owned by the toolkit until the
// same thread calls again; wiped before they are replaced or freed.
struct ReturnedBytes {
  pki::Bytes bytes;
  ~ReturnedBytes() { pki::Cleanse(&bytes); }
};

struct ReturnedBytesTag;
pki::Bytes& ThreadReturnedBytes() {
  return pki::ThreadSlot<ReturnedBytes, ReturnedBytesTag>::Mine().bytes;
}

struct LogStringTag;

}  // namespace
}  // namespace veskar::cmsapi

// The entry points are global C functions; their helpers live in the namespace.
namespace cms = veskar::cmsapi;

extern "C" {

int VESKAR_TOOLKIT_CALL CMSQueryLogWarning(int status) { return cms::IsWarning(status) ? 1 : 0; }

const char* VESKAR_TOOLKIT_CALL CMSQueryVersionNumber(void) { return cms::kVersion; }

int VESKAR_TOOLKIT_CALL CMSLogin(const char* version, CryptoLibrary crypto,
                                 const CMSBinaryData* /*credentials*/, const char* ini_path,
                                 const char* /*reserved*/, void** login) {
  return veskar::standins::Guarded(cms::kCmsInternalError, [&] {
    if (login == nullptr) return cms::kCmsBadArgument;
    *login = nullptr;
    if (version == nullptr || std::strcmp(version, cms::kVersion) != 0) {
      return cms::kCmsVersionMismatch;
    }
    if (crypto != CMS_CRYPTO_LIBRARY_DEFAULT) return cms::kCmsBadArgument;
    auto session = std::make_unique<cms::Session>();
    std::string error;
    // Without a login there is no handle to ask ENTGetEntErr with, so the
    // status and its CMSLogToString text are all a caller learns here.
    if (!veskar::standins::ReadClientIni(ini_path, &session->settings, &error)) {
      return cms::kCmsIniUnreadable;
    }
    // A CA folder is checked now; a server is first asked when enrolling.
    if (!session->settings.ca.Check(&error)) return cms::kCmsCaUnavailable;
    *login = cms::Sessions().Add(std::move(session));
    return cms::kCmsOk;
  });
}

int VESKAR_TOOLKIT_CALL CMSLogout(void** login) {
  return veskar::standins::Guarded(cms::kCmsInternalError, [&] {
    if (login == nullptr) return cms::kCmsBadArgument;
    std::unique_ptr<cms::Session> session = cms::Sessions().Remove(*login);
    if (!session) return cms::kCmsBadHandle;
    // Handles the caller did not release die with their login.
    const cms::Session* gone = session.get();
    cms::Requests().RemoveIf([gone](const cms::Request& r) { return r.owner == gone; });
    cms::Templates().RemoveIf([gone](const cms::CertTemplate& t) { return t.owner == gone; });
    *login = nullptr;
    return cms::kCmsOk;
  });
}

int VESKAR_TOOLKIT_CALL CMSCreateReqHdl(void* const login, CMSReqHdlType type, void** request) {
  return cms::InSession(login, [&](cms::Session* session) {
    if (request != nullptr) *request = nullptr;
    if (type != CMS_REQ_HDL_DEFAULT) {
      return session->Refuse(cms::kCmsBadArgument,
                             "request type " + std::to_string(type) + " is not offered");
    }
    return cms::NewHandle(session, cms::Requests(), request);
  });
}

int VESKAR_TOOLKIT_CALL CMSReleaseReqHdl(void* const login, void** request) {
  return cms::InSession(login, [&](cms::Session* session) {
    return cms::ReleaseHandle(session, cms::Requests(), request);
  });
}

int VESKAR_TOOLKIT_CALL CMSSetReqAttrib(void* const login, void* const request,
                                        CMSReqAttribType attribute, const CMSAttribValue* value) {
  return cms::InSession(login, [&](cms::Session* session) {
    cms::Request* found = cms::OwnedBy(session, cms::Requests(), request);
    if (found == nullptr) return cms::kCmsBadHandle;
    return cms::SetRequestAttribute(session, found, attribute, value);
  });
}

int VESKAR_TOOLKIT_CALL CMSCreateCertTempl(void* const login, void** cert_template) {
  return cms::InSession(login, [&](cms::Session* session) {
    return cms::NewHandle(session, cms::Templates(), cert_template);
  });
}

int VESKAR_TOOLKIT_CALL CMSReleaseCertTempl(void* const login, void** cert_template) {
  return cms::InSession(login, [&](cms::Session* session) {
    return cms::ReleaseHandle(session, cms::Templates(), cert_template);
  });
}

int VESKAR_TOOLKIT_CALL CMSSetCertFieldValue(void* const login, void* const cert_template,
                                             FieldName field, const CMSAttribValue* value) {
  return cms::InSession(login, [&](cms::Session* session) {
    cms::CertTemplate* found = cms::OwnedBy(session, cms::Templates(), cert_template);
    if (found == nullptr) return cms::kCmsBadHandle;
    return cms::SetTemplateField(session, found, field, value);
  });
}

int VESKAR_TOOLKIT_CALL CMSRequestMyCertificate(void* const login, void* const cert_template,
                                                void* const request, int* /*reserved*/) {
  return cms::InSession(login, [&](cms::Session* session) {
    const cms::CertTemplate* found_template =
        cms::OwnedBy(session, cms::Templates(), cert_template);
    cms::Request* found_request =
        found_template ? cms::OwnedBy(session, cms::Requests(), request) : nullptr;
    if (found_request == nullptr) return cms::kCmsBadHandle;
    return cms::IssueCertificate(session, *found_template, found_request);
  });
}

int VESKAR_TOOLKIT_CALL CMSRetrieveMyCertificate(void* const login, void* const request,
                                                 KeyPair* key_pair, int* status,
                                                 CMSBinaryData* ca_certificate) {
  return cms::InSession(login, [&](cms::Session* session) {
    const cms::Request* found = cms::OwnedBy(session, cms::Requests(), request);
    if (found == nullptr) return cms::kCmsBadHandle;
    if (key_pair == nullptr || ca_certificate == nullptr) {
      return session->Refuse(cms::kCmsBadArgument, "no key pair or CA certificate record to fill");
    }
    if (!found->issued) {
      return session->Refuse(cms::kCmsNotIssued, "no certificate was issued on this request yet");
    }
    if (key_pair->kind != cms::kVerificationKeyPair) {
      return session->Refuse(cms::kCmsBadArgument, "key pair kind " +
                                                       std::to_string(key_pair->kind) +
                                                       " is not offered; kind 2 (verification) is");
    }
    if (key_pair->certificate.data != nullptr) {
      return session->Refuse(cms::kCmsBadArgument,
                             "the key pair still holds a certificate; release it first");
    }
    unsigned char* user = cms::NewBuffer(found->certificate);
    unsigned char* ca = nullptr;
    try {
      ca = cms::NewBuffer(found->ca_certificate);
    } catch (...) {
      // The first buffer was never handed out, so it goes back here.
      if (user != nullptr) cms::FreeBuffer(user);
      throw;
    }
    key_pair->certificate.length = static_cast<uint32_t>(found->certificate.size());
    key_pair->certificate.data = user;
    ca_certificate->length = static_cast<uint32_t>(found->ca_certificate.size());
    ca_certificate->data = ca;
    if (status != nullptr) *status = 0;
    return cms::kCmsOk;
  });
}

void VESKAR_TOOLKIT_CALL CMSReleaseBuffer(CMSBinaryData* buffer) {
  if (buffer == nullptr || buffer->data == nullptr) return;
  // A buffer this toolkit did not hand out is left alone.
  if (!cms::FreeBuffer(buffer->data)) return;
  buffer->data = nullptr;
  buffer->length = 0;
}

int VESKAR_TOOLKIT_CALL CMSReleaseKeyPair(KeyPair* key_pair) {
  if (key_pair == nullptr) return cms::kCmsBadArgument;
  if (key_pair->certificate.data != nullptr && !cms::FreeBuffer(key_pair->certificate.data)) {
    return cms::kCmsBadArgument;
  }
  key_pair->certificate.data = nullptr;
  key_pair->certificate.length = 0;
  return cms::kCmsOk;
}

void VESKAR_TOOLKIT_CALL CMSGetLogString(int status, CMSBinaryData* text) {
  if (text == nullptr) return;
  // The record's pointer is not const; hand out a copy so a careless
  // caller's write cannot reach the status table.
  std::string& copy = veskar::pki::ThreadSlot<std::string, cms::LogStringTag>::Mine();
  copy = cms::StatusText(status);
  text->length = static_cast<uint32_t>(copy.size());
  text->data = reinterpret_cast<unsigned char*>(&copy[0]);
}

const char* VESKAR_TOOLKIT_CALL CMSLogToString(int status) { return cms::StatusText(status); }

int VESKAR_TOOLKIT_CALL ENTGetEntErr(void* const login, CMSBinaryData* reason) {
  const cms::Session* session = cms::Sessions().Find(login);
  if (session == nullptr || session->reason_code == 0 || reason == nullptr ||
      reason->data == nullptr || reason->length == 0) {
    return 0;
  }
  const size_t room = reason->length - 1;
  const size_t size = session->reason.size() < room ? session->reason.size() : room;
  std::memcpy(reason->data, session->reason.data(), size);
  reason->data[size] = '\0';
  return session->reason_code;
}

const char* VESKAR_TOOLKIT_CALL ENTGetCertReqModStr(void* const /*first*/, void* const /*second*/) {
  // This CA never modifies a request.
  return "";
}

int VESKAR_TOOLKIT_CALL ENTPutProtectedData(const char* path, const char* label,
                                            const char* protection, const CMSBinaryData* data) {
  return veskar::standins::Guarded(cms::kCmsInternalError, [&] {
    if (path == nullptr || path[0] == '\0' || label == nullptr || protection == nullptr ||
        data == nullptr || (data->length > 0 && data->data == nullptr)) {
      return cms::kCmsBadArgument;
    }
    const veskar::pki::Secret secret(protection);
    return cms::PutProtectedItem(path, label, secret.str(), data->data, data->length);
  });
}

int VESKAR_TOOLKIT_CALL ENTGetProtectedData(const char* path, const char* label,
                                            const char* protection, CMSBinaryData* data) {
  return veskar::standins::Guarded(cms::kCmsInternalError, [&] {
    if (data == nullptr) return cms::kCmsBadArgument;
    data->length = 0;
    data->data = nullptr;
    if (path == nullptr || path[0] == '\0' || label == nullptr || protection == nullptr) {
      return cms::kCmsBadArgument;
    }
    cms::Bytes& returned = cms::ThreadReturnedBytes();
    veskar::pki::Cleanse(&returned);
    const veskar::pki::Secret secret(protection);
    const int status = cms::GetProtectedItem(path, label, secret.str(), &returned);
    if (status == cms::kCmsOk && !returned.empty()) {
      data->length = static_cast<uint32_t>(returned.size());
      data->data = returned.data();
    }
    return status;
  });
}

}  // extern "C"
