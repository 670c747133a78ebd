#include <veskar/cms_agent.h>

#include <cstring>
#include <string>

namespace {

constexpr unsigned int kReasonBufferSize = 1024;
constexpr int32_t kTemplateFieldValue = 2;

unsigned char* TextBytes(const CString& text) {
  return reinterpret_cast<unsigned char*>(const_cast<char*>(static_cast<const char*>(text)));
}

}  // namespace

int CQnEntCmsPMA::HasError(int status, void* login) {
  if (status == 0) return 0;
  const char* text = m_gpCMSLogToString(status);
  m_strError = text;
  if (m_gpCMSQueryLogWarning(status) != 0) return 0;
  if (login == nullptr) return 1;

  unsigned char buffer[kReasonBufferSize] = {};
  CMSBinaryData reason{kReasonBufferSize, buffer};
  const int code = m_gpENTGetEntErr(login, &reason);
  if (code != 0) {
    // The toolkit's text ends at its first NUL, or at the end of the buffer.
    const std::string reason_text(reinterpret_cast<const char*>(buffer),
                                  strnlen(reinterpret_cast<const char*>(buffer), sizeof buffer));
    m_strExtendedError.Format("Request to Entrust failed due to the following reason:(%ld) %s\n",
                              static_cast<long>(code), reason_text.c_str());
  }
  return 1;
}

int CQnEntCmsPMA::SetReqAttributeValue(void* login, void* request, CMSReqAttribType attribute,
                                       CMSDataType kind, unsigned int length,
                                       unsigned char* value) {
  // The toolkit keeps no reference to the record or the bytes after the call.
  const CMSAttribValue record{kind, length, value};
  return HasError(m_gpCMSSetReqAttrib(login, request, attribute, &record), login);
}

int CQnEntCmsPMA::SetCertTemplateField(void* login, void* cert_template, FieldName field,
                                       CMSDataType kind, unsigned int length,
                                       unsigned char* value) {
  const CMSAttribValue record{kind, length, value};
  return HasError(m_gpCMSSetCertFieldValue(login, cert_template, field, &record), login);
}

int CQnEntCmsPMA::SetAllReqAttributeValue(void* login, void* request, CString& auth_code,
                                          CString& ref_num, int to_publish,
                                          unsigned int pkcs10_req_len, unsigned char* pkcs10_req) {
  if (SetReqAttributeValue(login, request, CMS_REQ_ATTRIB_AUTH_CODE, CMS_DATA_TEXT,
                           static_cast<unsigned int>(auth_code.GetLength()),
                           TextBytes(auth_code)) != 0) {
    return 1;
  }
  if (SetReqAttributeValue(login, request, CMS_REQ_ATTRIB_REF_NUM, CMS_DATA_TEXT,
                           static_cast<unsigned int>(ref_num.GetLength()),
                           TextBytes(ref_num)) != 0) {
    return 1;
  }
  int32_t publish = to_publish != 0 ? 1 : 0;
  if (SetReqAttributeValue(login, request, CMS_REQ_ATTRIB_PUBLISH, CMS_DATA_INT32, sizeof publish,
                           reinterpret_cast<unsigned char*>(&publish)) != 0) {
    return 1;
  }
  return SetReqAttributeValue(login, request, CMS_REQ_ATTRIB_PKCS10, CMS_DATA_BYTES, pkcs10_req_len,
                              pkcs10_req) != 0
             ? 1
             : 0;
}

int CQnEntCmsPMA::SetAllCertTemplateFields(void* login, void* cert_template) {
  int32_t value = kTemplateFieldValue;
  return SetCertTemplateField(login, cert_template, CMS_FIELD_TEMPLATE, CMS_DATA_INT32,
                              sizeof value, reinterpret_cast<unsigned char*>(&value)) != 0
             ? 1
             : 0;
}
