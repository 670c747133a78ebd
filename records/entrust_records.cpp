#include <veskar/records.h>

#include "records/message_servers.h"

namespace {
constexpr int kEntrustIPSecType = veskar::kMsgSvrEntrustIPSec;
constexpr int kEntrustCmsType = veskar::kMsgSvrEntrustCms;
}  // namespace

CQnPMCrtUsrEntIPSec::CQnPMCrtUsrEntIPSec(CString label, CString ca_location, CString ca_location2,
                                         CString password, CString profile_name, CString auth_code,
                                         CString ref_num)
    : CQnPMCrtUsrData(kEntrustIPSecType, 0, std::move(label), std::move(ca_location),
                      std::move(ca_location2)),
      m_strAuthCode(std::move(auth_code)),
      m_strRefNum(std::move(ref_num)),
      m_strPW(std::move(password)),
      m_strProfileName(std::move(profile_name)),
      m_pRawCACert(nullptr),
      m_nRawCACertLen(0) {}
CQnPMCrtUsrEntIPSec::CQnPMCrtUsrEntIPSec(const CQnPMCrtUsrEntIPSec&) = default;
CQnPMCrtUsrEntIPSec& CQnPMCrtUsrEntIPSec::operator=(const CQnPMCrtUsrEntIPSec&) = default;
CQnPMCrtUsrEntIPSec::~CQnPMCrtUsrEntIPSec() = default;

CString CQnPMCrtUsrEntIPSec::GetPW() { return m_strPW; }
CString CQnPMCrtUsrEntIPSec::GetProfileName() { return m_strProfileName; }
CString CQnPMCrtUsrEntIPSec::GetAuthCode() { return m_strAuthCode; }
CString CQnPMCrtUsrEntIPSec::GetRefNum() { return m_strRefNum; }
unsigned char* CQnPMCrtUsrEntIPSec::GetRawCACertificate(unsigned int& length) {
  length = m_nRawCACertLen;
  return m_pRawCACert;
}

CQnPMCrtUsrEntCms::CQnPMCrtUsrEntCms()
    : CQnPMCrtUsrData(kEntrustCmsType, 0),
      m_bToPublish(1),
      m_pPKCS10Req(nullptr),
      m_nPKCS10ReqLen(0),
      m_pRawCACert(nullptr),
      m_nRawCACertLen(0) {}
// The integer before the request is the publish flag: a host that passes 0
// asks not to publish, and is not overruled.
CQnPMCrtUsrEntCms::CQnPMCrtUsrEntCms(CString label, CString ca_location, CString ca_location2,
                                     CString auth_code, CString ref_num, int to_publish,
                                     unsigned char* pkcs10_req, unsigned int pkcs10_req_len)
    : CQnPMCrtUsrData(kEntrustCmsType, 0, std::move(label), std::move(ca_location),
                      std::move(ca_location2)),
      m_strAuthCode(std::move(auth_code)),
      m_strRefNum(std::move(ref_num)),
      m_bToPublish(to_publish),
      m_pPKCS10Req(pkcs10_req),
      m_nPKCS10ReqLen(pkcs10_req_len),
      m_pRawCACert(nullptr),
      m_nRawCACertLen(0) {}
CQnPMCrtUsrEntCms::CQnPMCrtUsrEntCms(const CQnPMCrtUsrEntCms&) = default;
CQnPMCrtUsrEntCms& CQnPMCrtUsrEntCms::operator=(const CQnPMCrtUsrEntCms&) = default;
CQnPMCrtUsrEntCms::~CQnPMCrtUsrEntCms() = default;

void CQnPMCrtUsrEntCms::SetPKCS10Req(unsigned int length, unsigned char* request) {
  m_nPKCS10ReqLen = length;
  m_pPKCS10Req = request;
}
unsigned char* CQnPMCrtUsrEntCms::GetPKCS10Req(unsigned int& length) {
  length = m_nPKCS10ReqLen;
  return m_pPKCS10Req;
}
int CQnPMCrtUsrEntCms::ToPublish() { return m_bToPublish; }
CString CQnPMCrtUsrEntCms::GetAuthCode() { return m_strAuthCode; }
CString CQnPMCrtUsrEntCms::GetRefNum() { return m_strRefNum; }
unsigned char* CQnPMCrtUsrEntCms::GetRawCACertificate(unsigned int& length) {
  length = m_nRawCACertLen;
  return m_pRawCACert;
}
