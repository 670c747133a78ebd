#include <veskar/records.h>

#include "records/message_servers.h"

namespace {
constexpr int kNetscapeType = veskar::kMsgSvrNetscape;
constexpr int kNetscapeDefaultVersion = 4;
}  // namespace

CQnPMCrtUsrNetscape::CQnPMCrtUsrNetscape(CString ca_location, int on_line, CString label,
                                         unsigned char* pkcs10_req, unsigned int pkcs10_req_len)
    : CQnPMCrtUsrData(kNetscapeType, 0, std::move(label), std::move(ca_location)),
      m_bOnLine(on_line),
      m_pPKCS10Req(pkcs10_req),
      m_nPKCS10ReqLen(pkcs10_req_len) {}
CQnPMCrtUsrNetscape::CQnPMCrtUsrNetscape(const CQnPMCrtUsrNetscape&) = default;
CQnPMCrtUsrNetscape& CQnPMCrtUsrNetscape::operator=(const CQnPMCrtUsrNetscape&) = default;
CQnPMCrtUsrNetscape::~CQnPMCrtUsrNetscape() = default;

void CQnPMCrtUsrNetscape::SetPKCS10Req(unsigned int length, unsigned char* request) {
  m_nPKCS10ReqLen = length;
  m_pPKCS10Req = request;
}
unsigned char* CQnPMCrtUsrNetscape::GetPKCS10Req(unsigned int& length) {
  length = m_nPKCS10ReqLen;
  return m_pPKCS10Req;
}
int CQnPMCrtUsrNetscape::IsOnLine() { return m_bOnLine; }

CQnPMGetCANetscape::CQnPMGetCANetscape() : CQnPMGetCAData(kNetscapeType, kNetscapeDefaultVersion) {}
CQnPMGetCANetscape::CQnPMGetCANetscape(int msg_svr_ver, CString label, CString ca_location)
    : CQnPMGetCAData(kNetscapeType, msg_svr_ver, std::move(label), std::move(ca_location)) {}
CQnPMGetCANetscape::CQnPMGetCANetscape(const CQnPMGetCANetscape&) = default;
CQnPMGetCANetscape& CQnPMGetCANetscape::operator=(const CQnPMGetCANetscape&) = default;
CQnPMGetCANetscape::~CQnPMGetCANetscape() = default;

CQnPMQueryNetscape::CQnPMQueryNetscape() : CQnPMQueryData(kNetscapeType, kNetscapeDefaultVersion) {}
CQnPMQueryNetscape::CQnPMQueryNetscape(int msg_svr_ver, CString label, CString ca_location,
                                       unsigned int query_req_id_len, unsigned char* query_req_id)
    : CQnPMQueryData(kNetscapeType, msg_svr_ver, std::move(label), std::move(ca_location),
                     query_req_id_len, query_req_id) {}
CQnPMQueryNetscape::CQnPMQueryNetscape(const CQnPMQueryNetscape&) = default;
CQnPMQueryNetscape& CQnPMQueryNetscape::operator=(const CQnPMQueryNetscape&) = default;
CQnPMQueryNetscape::~CQnPMQueryNetscape() = default;
