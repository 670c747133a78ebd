// User enrollment through the IPSec key-management toolkit: INI file,
// optional user creation, log-in, certificate fetch, log-out, INI file
// removed.

#include <veskar/ipsec_agent.h>

#include <cstring>
#include <memory>

#include "agents/request_admission.h"
#include "base/scope_guard.h"
#include "files/ini_file.h"
#include "framework/messages.h"
#include "ipsec/reference_number.h"
#include "records/message_servers.h"

namespace {

using veskar::ReportMessage;
using veskar::ScopeGuard;

// A certificate copied out of a toolkit record. It stays ours until the
// request has finished, so no exception can leave the call with a buffer
// already in the caller's hands.
struct CertificateCopy {
  std::unique_ptr<unsigned char[]> bytes;
  unsigned int length = 0;
};

// Copies a record's bytes; false when the record claims bytes it does not
// point to.
bool CopyRecord(const IKMPBinaryData& record, CertificateCopy* copy) {
  if (record.count != 0 && record.data == nullptr) return false;
  copy->length = record.count;
  if (record.count != 0) {
    copy->bytes.reset(new unsigned char[record.count]);
    std::memcpy(copy->bytes.get(), record.data, record.count);
  }
  return true;
}

}  // namespace

int CQnEntIPSecPMA::CreateUserCertificate(unsigned char** certificate, unsigned int& length,
                                          CQnPMCrtUsrData* request) {
  CQnPMCrtUsrEntIPSec* record = veskar::AdmitRequest<CQnPMCrtUsrEntIPSec>(
      m_gbLoaded, certificate, length, request, veskar::kMsgSvrEntrustIPSec);
  if (record == nullptr) return ReportMessage(&m_strError, veskar::kMsgServiceNotAvailable);

  m_strError.Empty();

  CString server = record->GetCALocation2();
  CString manager = record->GetCALocation();
  const CString ini_path = CreateEtIniFile(manager, server);
  if (ini_path.IsEmpty()) return ReportMessage(&m_strError, veskar::kMsgIpsecIniFailed);
  // Removed quietly when an exception leaves the call before the ordinary
  // removal, which comes last: the exception in flight is the one the host
  // must see.
  veskar::IniFile ini(ini_path);

  const CString profile = record->GetProfileName();
  const CString password = record->GetPW();
  const CString auth_code = record->GetAuthCode();
  const CString ref_num = record->GetRefNum();

  void* login = nullptr;
  bool logged_in = false;
  // The log-out status is not judged: nothing is left to do about it.
  ScopeGuard log_out([&]() {
    if (!logged_in) return;
    logged_in = false;
    m_gpIKMPLogout(&login);
    login = nullptr;
  });

  CertificateCopy user_copy;
  CertificateCopy ca_copy;
  int result = veskar::kMsgSuccess;
  if (!auth_code.IsEmpty() && !ref_num.IsEmpty()) {
    if (password.IsEmpty()) {
      result = veskar::kMsgIpsecNeedPassword;
    } else if (profile.IsEmpty()) {
      result = veskar::kMsgIpsecNeedProfileName;
    } else if (m_gpIKMPCreateUser(veskar::ParseReferenceNumber(ref_num), auth_code, password,
                                  ini_path, profile, 1) != 0) {
      result = veskar::kMsgIpsecCreateUserFailed;
    }
  }
  if (result == veskar::kMsgSuccess) {
    const isakmp_options_struct options = {0, 1000, 1};
    if (m_gpIKMPLogin(&login, profile, password, ini_path, options) != 0) {
      result = veskar::kMsgIpsecLoginFailed;
    } else {
      logged_in = true;
      IKMPBinaryData user = {0, nullptr};
      IKMPBinaryData ca = {0, nullptr};
      IKMPBinaryData third = {0, nullptr};
      // The toolkit's bytes may die with the session, so they are copied
      // before the log-out.
      if (m_gpIKMPGetMyVerifyCertificate(login, 1, &user, &ca, &third) != 0 ||
          !CopyRecord(user, &user_copy) || !CopyRecord(ca, &ca_copy)) {
        result = veskar::kMsgIpsecRetrieveFailed;
      }
    }
  }
  log_out.Run();

  // One attempt at removal: a failure is reported, not retried. Once the
  // certificates are fetched, a leftover INI file must not cost the user
  // them, so a failure to remove it is not reported then.
  if (result == veskar::kMsgSuccess) {
    ini.RemoveQuietly();
  } else {
    ini.Remove();
  }

  if (result != veskar::kMsgSuccess) return ReportMessage(&m_strError, result);

  // Nothing below throws: the request's results change hands together.
  *certificate = user_copy.bytes.release();
  length = user_copy.length;
  record->m_nRawCACertLen = ca_copy.length;
  if (ca_copy.length != 0) record->m_pRawCACert = ca_copy.bytes.release();
  m_strError.Empty();
  return veskar::kMsgSuccess;
}
