#include "standins/cmsapi32/cms_session.h"

#include <openssl/cmp.h>

#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "ca/user_register.h"
#include "cmp/cmp_enroll.h"
#include "pki/files.h"
#include "pki/openssl_util.h"
#include "standins/cmsapi32/cms_status.h"
#include "standins/cmsapi32/published_name.h"
#include "standins/common/settings.h"

namespace veskar::cmsapi {
namespace {

constexpr size_t kMaxTextAttribute = 1024;
constexpr size_t kMaxPkcs10 = 1024 * 1024;

const char* AttributeName(int attribute) {
  switch (attribute) {
    case CMS_REQ_ATTRIB_AUTH_CODE:
      return "authorisation code";
    case CMS_REQ_ATTRIB_REF_NUM:
      return "reference number";
    case CMS_REQ_ATTRIB_PUBLISH:
      return "publish flag";
    case CMS_REQ_ATTRIB_PKCS10:
      return "PKCS #10 request";
    default:
      return "unknown";
  }
}

// Checks that `value` is a well-formed record of `kind`, at most `max_size`
// bytes (exactly 4 for integers). On failure fills *why.
bool ValueOfKind(const CMSAttribValue* value, CMSDataType kind, size_t max_size, std::string* why) {
  if (value == nullptr) {
    *why = "no value record";
    return false;
  }
  if (value->kind != kind) {
    *why = "value kind " + std::to_string(value->kind) + " where kind " + std::to_string(kind) +
           " is expected";
    return false;
  }
  if (value->length > 0 && value->value == nullptr) {
    *why = "a length of " + std::to_string(value->length) + " but no bytes";
    return false;
  }
  if (kind == CMS_DATA_INT32 ? value->length != 4 : value->length > max_size) {
    *why = "a length of " + std::to_string(value->length) + " bytes";
    return false;
  }
  return true;
}

int32_t Int32Of(const CMSAttribValue* value) {
  int32_t number = 0;
  std::memcpy(&number, value->value, sizeof(number));
  return number;
}

std::string_view TextOf(const CMSAttribValue* value) {
  return value->length == 0
             ? std::string_view()
             : std::string_view(reinterpret_cast<const char*>(value->value), value->length);
}

// Writes the certificate into the directory folder under its
// PublishedFileName, never over an existing file.
bool Publish(const std::string& folder, X509* certificate, std::string* published,
             std::string* why) {
  if (folder.empty()) {
    *why = "the certificate should be published but the client INI file names no directory folder";
    return false;
  }
  const std::string path = folder + "/" + PublishedFileName(certificate);
  const pki::Bytes der = pki::CertificateToDer(certificate);
  std::string error;
  if (der.empty() || !pki::WriteFileAtomically(path, der.data(), der.size(), 0644,
                                               pki::Overwrite::kNever, &error)) {
    *why = "cannot publish the certificate: " + error;
    return false;
  }
  *published = path;
  return true;
}

class BufferRegistry {
 public:
  unsigned char* Add(const pki::Bytes& bytes) {
    if (bytes.empty()) return nullptr;
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size()]);
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    unsigned char* raw = copy.get();
    std::lock_guard<std::mutex> guard(mutex_);
    live_[raw] = std::move(copy);
    return raw;
  }
  bool Remove(const unsigned char* data) {
    std::lock_guard<std::mutex> guard(mutex_);
    return live_.erase(data) == 1;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<const unsigned char*, std::unique_ptr<unsigned char[]>> live_;
};

BufferRegistry& Buffers() {
  static BufferRegistry registry;
  return registry;
}

}  // namespace

standins::HandleRegistry<Session>& Sessions() {
  static standins::HandleRegistry<Session> registry;
  return registry;
}

standins::HandleRegistry<Request>& Requests() {
  static standins::HandleRegistry<Request> registry;
  return registry;
}

standins::HandleRegistry<CertTemplate>& Templates() {
  static standins::HandleRegistry<CertTemplate> registry;
  return registry;
}

int SetRequestAttribute(Session* session, Request* request, int attribute,
                        const CMSAttribValue* value) {
  if (request->issued) {
    return session->Refuse(kCmsAlreadyIssued,
                           "the certificate was already issued; the request cannot change");
  }
  std::string why;
  const std::string name = AttributeName(attribute);
  switch (attribute) {
    case CMS_REQ_ATTRIB_AUTH_CODE:
      if (!ValueOfKind(value, CMS_DATA_TEXT, kMaxTextAttribute, &why)) break;
      // Made in place: a code set again wipes the one it replaces.
      request->authorisation_code.emplace(TextOf(value));
      return kCmsOk;
    case CMS_REQ_ATTRIB_REF_NUM:
      if (!ValueOfKind(value, CMS_DATA_TEXT, kMaxTextAttribute, &why)) break;
      request->reference_number = std::string(TextOf(value));
      return kCmsOk;
    case CMS_REQ_ATTRIB_PUBLISH:
      if (!ValueOfKind(value, CMS_DATA_INT32, 4, &why)) break;
      request->publish = Int32Of(value);
      return kCmsOk;
    case CMS_REQ_ATTRIB_PKCS10:
      if (!ValueOfKind(value, CMS_DATA_BYTES, kMaxPkcs10, &why)) break;
      request->pkcs10 = value->length == 0 ? pki::Bytes()
                                           : pki::Bytes(value->value, value->value + value->length);
      return kCmsOk;
    default:
      return session->Refuse(kCmsUnknownAttribute,
                             "request attribute " + std::to_string(attribute) + " is not known");
  }
  return session->Refuse(kCmsBadAttributeValue, "the " + name + " attribute (" +
                                                    std::to_string(attribute) + ") has " + why);
}

int SetTemplateField(Session* session, CertTemplate* cert_template, int field,
                     const CMSAttribValue* value) {
  if (field != CMS_FIELD_TEMPLATE) {
    return session->Refuse(kCmsUnknownField,
                           "certificate template field " + std::to_string(field) + " is not known");
  }
  std::string why;
  if (!ValueOfKind(value, CMS_DATA_INT32, 4, &why)) {
    return session->Refuse(kCmsBadFieldValue, "the template field (0) has " + why);
  }
  const int32_t number = Int32Of(value);
  if (number != kVerificationTemplate) {
    return session->Refuse(kCmsBadFieldValue,
                           "template " + std::to_string(number) +
                               " is not offered; this CA issues template 2 (verification "
                               "certificate)");
  }
  cert_template->template_number = number;
  return kCmsOk;
}

int IssueCertificate(Session* session, const CertTemplate& cert_template, Request* request) {
  if (request->issued) {
    return session->Refuse(kCmsAlreadyIssued, "a certificate was already issued on this request");
  }
  if (cert_template.template_number != kVerificationTemplate) {
    return session->Refuse(kCmsBadFieldValue,
                           "the template asks for no certificate this CA issues");
  }
  if (!request->authorisation_code || !request->reference_number || !request->pkcs10) {
    const char* missing = !request->authorisation_code ? "an authorisation code"
                          : !request->reference_number ? "a reference number"
                                                       : "a PKCS #10 request";
    return session->Refuse(kCmsRequestIncomplete,
                           std::string("the certificate request has no ") + missing);
  }
  int reference_number = 0;
  if (!ca::ParseReferenceNumber(*request->reference_number, &reference_number)) {
    return session->Refuse(kCmsBadReferenceNumber, "reference number '" +
                                                       *request->reference_number +
                                                       "' is not a number from 1 to 2147483647");
  }
  const pki::Bytes& pkcs10 = *request->pkcs10;
  if (pkcs10.empty()) {
    return session->Refuse(kCmsBadPkcs10, "the PKCS #10 request is empty");
  }
  // The enrollment's own context; what is made in it goes first.
  const pki::LibCtxPtr libctx = pki::NewPrivateContext();
  if (!libctx) return session->Refuse(kCmsInternalError, "out of memory");
  pki::X509ReqPtr parsed = pki::RequestFromBytes(pkcs10.data(), pkcs10.size(), libctx.get());
  if (!parsed) {
    pki::TakeOpensslError();
    return session->Refuse(kCmsBadPkcs10,
                           "the PKCS #10 request cannot be read (DER or PEM expected)");
  }
  EVP_PKEY* key = X509_REQ_get0_pubkey(parsed.get());
  if (key == nullptr || X509_REQ_verify_ex(parsed.get(), key, libctx.get(), nullptr) != 1) {
    pki::TakeOpensslError();
    return session->Refuse(kCmsPkcs10Signature, "PKCS #10 signature does not verify");
  }
  // Published before the certificate is confirmed: a certificate that
  // cannot be published is turned down, and the CA keeps the pair unused.
  cmp::Enrollment enrollment;
  const ca::CaStatus connected = session->settings.ca.Connect(&enrollment.transport);
  if (!connected.ok()) return session->Refuse(StatusFor(connected.error), connected.message);
  enrollment.libctx = libctx.get();
  enrollment.options = standins::StandinSettings::FromEnvironment().cmp;
  enrollment.reference_number = std::to_string(reference_number);
  enrollment.code = &request->authorisation_code->str();
  enrollment.pkcs10 = parsed.get();
  std::string published;
  if (request->publish != 0) {
    const std::string folder = session->settings.publish_directory;
    enrollment.accept = [folder, &published](X509* certificate, X509*, std::string* why) {
      return Publish(folder, certificate, &published, why);
    };
  }
  const cmp::EnrollResult result = cmp::Enroll(enrollment);
  if (!result.ok()) {
    // Published, but the confirmation failed: the CA does not stand by it.
    if (!published.empty()) pki::RemoveFile(published);
    return session->Refuse(StatusFor(result.outcome), result.reason);
  }
  pki::X509Ptr issued =
      pki::CertificateFromBytes(result.certificate.data(), result.certificate.size(), libctx.get());
  pki::X509Ptr ca = pki::CertificateFromBytes(result.ca_certificate.data(),
                                              result.ca_certificate.size(), libctx.get());
  request->certificate = result.certificate;
  request->ca_certificate = result.ca_certificate;
  request->issued = true;
  if (issued && ca &&
      ASN1_TIME_compare(X509_get0_notAfter(issued.get()), X509_get0_notAfter(ca.get())) == 0) {
    return session->Refuse(kCmsValidityShortened,
                           "the certificate ends with the CA certificate, on " +
                               pki::TimeText(X509_get0_notAfter(issued.get())));
  }
  return kCmsOk;
}

unsigned char* NewBuffer(const pki::Bytes& bytes) { return Buffers().Add(bytes); }

bool FreeBuffer(const unsigned char* data) { return Buffers().Remove(data); }

}  // namespace veskar::cmsapi
