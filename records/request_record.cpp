#include <veskar/records.h>

CQnPMCrtUsrData::CQnPMCrtUsrData(int msg_svr_type, int msg_svr_ver, CString label,
                                 CString ca_location, CString ca_location2)
    : m_nMsgSvrType(msg_svr_type),
      m_nMsgSvrVer(msg_svr_ver),
      m_strLabel(std::move(label)),
      m_strCALocation(std::move(ca_location)),
      m_strCALocation2(std::move(ca_location2)) {}

CQnPMCrtUsrData::CQnPMCrtUsrData(const CQnPMCrtUsrData&) = default;
CQnPMCrtUsrData& CQnPMCrtUsrData::operator=(const CQnPMCrtUsrData&) = default;
CQnPMCrtUsrData::~CQnPMCrtUsrData() = default;

int CQnPMCrtUsrData::GetMsgSvrType() { return m_nMsgSvrType; }
int CQnPMCrtUsrData::GetMsgSvrVer() { return m_nMsgSvrVer; }
CString CQnPMCrtUsrData::GetLabel() { return m_strLabel; }
CString CQnPMCrtUsrData::GetCALocation() { return m_strCALocation; }
CString CQnPMCrtUsrData::GetCALocation2() { return m_strCALocation2; }
CString CQnPMCrtUsrData::GetPW() { return CString(); }
CString CQnPMCrtUsrData::GetProfileName() { return CString(); }
void CQnPMCrtUsrData::SetPKCS10Req(unsigned int, unsigned char*) {}
int CQnPMCrtUsrData::IsOnLine() { return 1; }
