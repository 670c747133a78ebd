#include <veskar/cms_agent.h>

#include <cstring>

#include "agents/request_admission.h"
#include "base/scope_guard.h"
#include "files/ini_file.h"
#include "files/temp_files.h"
#include "framework/messages.h"
#include "records/message_servers.h"

namespace {

constexpr uint32_t kKeyPairKind = 2;

// A copy of a toolkit buffer in memory the caller owns, or null when empty.
unsigned char* CopyOut(const CMSBinaryData& data, unsigned int* length) {
  *length = data.length;
  if (*length == 0) return nullptr;
  unsigned char* copy = new unsigned char[*length];
  std::memcpy(copy, data.data, *length);
  return copy;
}

}  // namespace

void CQnEntCmsPMA::InitKeyPair(KeyPair* key_pair) {
  for (uint32_t& word : key_pair->words) word = 0;
  key_pair->kind = kKeyPairKind;
  key_pair->certificate.length = 0;
  key_pair->certificate.data = nullptr;
}

int CQnEntCmsPMA::CreateUserCertificate(unsigned char** certificate, unsigned int& length,
                                        CQnPMCrtUsrData* request) {
  CQnPMCrtUsrEntCms* record = veskar::AdmitRequest<CQnPMCrtUsrEntCms>(
      m_gbLoaded, certificate, length, request, veskar::kMsgSvrEntrustCms);
  if (record == nullptr) {
    return veskar::ReportMessage(&m_strError, veskar::kMsgServiceNotAvailable);
  }
  unsigned char* pkcs10_req = record->m_pPKCS10Req;
  // A length without bytes would send the toolkit a pointer it cannot read.
  const unsigned int pkcs10_req_len = pkcs10_req != nullptr ? record->m_nPKCS10ReqLen : 0;
  const int to_publish = record->ToPublish();
  CString ref_num = record->GetRefNum();
  CString auth_code = record->GetAuthCode();
  CString ca_location2 = record->GetCALocation2();
  CString ca_location = record->GetCALocation();

  const int result = CreateNewCertificate(ca_location, ca_location2, auth_code, ref_num, to_publish,
                                          pkcs10_req, pkcs10_req_len, certificate, length, record);
  if (result != 0) return veskar::ReportMessage(&m_strError, result);
  m_strError.Empty();
  return 0;
}

int CQnEntCmsPMA::CreateNewCertificate(CString ca_location, CString ca_location2, CString auth_code,
                                       CString ref_num, int to_publish, unsigned char* pkcs10_req,
                                       unsigned int pkcs10_req_len, unsigned char** certificate,
                                       unsigned int& length, CQnPMCrtUsrEntCms* record) {
  using veskar::ScopeGuard;
  m_strError.Empty();
  m_strExtendedError.Empty();
  *certificate = nullptr;
  length = 0;
  record->m_pRawCACert = nullptr;
  record->m_nRawCACertLen = 0;

  KeyPair key_pair;
  InitKeyPair(&key_pair);
  void* login = nullptr;
  void* request = nullptr;
  void* cert_template = nullptr;
  CMSBinaryData ca_certificate{0, nullptr};

  const CString ini_path = CreateCMSiniFile(ca_location, ca_location2);
  if (ini_path.IsEmpty()) return veskar::kMsgCmsIniFailed;
  // The INI file goes last: after the steps below have released what they
  // hold, on every return, and quietly when an exception leaves.
  veskar::IniFile ini(ini_path);

  // Clean-up runs in reverse order of the guards below, on every return and
  // when an exception leaves.
  const int result = [&]() -> int {
    // Each status is taken before HasError reads the handle the call may write.
    const char* version = m_gpCMSQueryVersionNumber();
    int status =
        m_gpCMSLogin(version, CMS_CRYPTO_LIBRARY_DEFAULT, nullptr, ini_path, nullptr, &login);
    if (HasError(status, login)) {
      return veskar::kMsgCmsLoginFailed;
    }
    ScopeGuard logout([&] {
      m_gpCMSLogout(&login);
      login = nullptr;
    });

    status = m_gpCMSCreateReqHdl(login, CMS_REQ_HDL_DEFAULT, &request);
    if (HasError(status, login)) {
      return veskar::kMsgCmsCreateRequestFailed;
    }
    ScopeGuard release_request([&] { m_gpCMSReleaseReqHdl(login, &request); });

    status = m_gpCMSCreateCertTempl(login, &cert_template);
    if (HasError(status, login)) {
      return veskar::kMsgCmsCreateTemplateFailed;
    }
    ScopeGuard release_template([&] { m_gpCMSReleaseCertTempl(login, &cert_template); });

    if (SetAllReqAttributeValue(login, request, auth_code, ref_num, to_publish, pkcs10_req_len,
                                pkcs10_req) != 0) {
      return veskar::kMsgCmsSetAttributesFailed;
    }
    if (SetAllCertTemplateFields(login, cert_template) != 0) {
      return veskar::kMsgCmsSetFieldsFailed;
    }
    status = m_gpCMSRequestMyCertificate(login, cert_template, request, nullptr);
    if (HasError(status, login)) {
      return veskar::kMsgCmsIssueFailed;
    }
    int retrieve_status = 0;
    status =
        m_gpCMSRetrieveMyCertificate(login, request, &key_pair, &retrieve_status, &ca_certificate);
    if (HasError(status, login)) {
      return veskar::kMsgCmsRetrieveFailed;
    }
    ScopeGuard release_certificates([&] {
      m_gpCMSReleaseKeyPair(&key_pair);
      m_gpCMSReleaseBuffer(&ca_certificate);
    });
    // A toolkit that reports bytes it does not hand over has not delivered.
    if ((key_pair.certificate.length != 0 && key_pair.certificate.data == nullptr) ||
        (ca_certificate.length != 0 && ca_certificate.data == nullptr)) {
      return veskar::kMsgCmsRetrieveFailed;
    }

    // Hand out copies. If anything below throws, the caller gets nothing
    // rather than buffers nobody knows to free.
    ScopeGuard drop_copies([&] {
      delete[] * certificate;
      *certificate = nullptr;
      length = 0;
      delete[] record->m_pRawCACert;
      record->m_pRawCACert = nullptr;
      record->m_nRawCACertLen = 0;
    });
    *certificate = CopyOut(key_pair.certificate, &length);
    unsigned int ca_length = 0;
    record->m_pRawCACert = CopyOut(ca_certificate, &ca_length);
    record->m_nRawCACertLen = ca_length;

    // Without a file there is nowhere to write, so the toolkit is not asked to.
    const CString protected_path = CreateEmptyTempFile("ENT", "DER");
    if (!protected_path.IsEmpty()) {
      // The writes' outcome does not change the result, but a file the
      // toolkit could not fill (a full disk) must not pass for a protected
      // copy: it is ours, so it goes.
      const auto stored = [](int status) {
        return status == 0 || m_gpCMSQueryLogWarning(status) != 0;
      };
      const bool ca_kept = stored(m_gpENTPutProtectedData(
          protected_path, "CA Verification Certificate", ref_num, &ca_certificate));
      const bool user_kept = stored(m_gpENTPutProtectedData(
          protected_path, "Verification Certificate", ref_num, &key_pair.certificate));
      if (!ca_kept || !user_kept) veskar::RemoveTempFileQuietly(protected_path);
    }
    drop_copies.Dismiss();
    return 0;
  }();
  // An issued certificate is not thrown away for a leftover INI file; a
  // failed request reports a file that cannot be removed.
  if (result == 0) {
    ini.RemoveQuietly();
  } else {
    ini.Remove();
  }
  return result;
}
