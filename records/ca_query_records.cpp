#include <veskar/records.h>

CQnPMGetCAData::CQnPMGetCAData() = default;
CQnPMGetCAData::CQnPMGetCAData(int msg_svr_type, int msg_svr_ver)
    : CQnPMCrtUsrData(msg_svr_type, msg_svr_ver) {}
CQnPMGetCAData::CQnPMGetCAData(int msg_svr_type, int msg_svr_ver, CString label)
    : CQnPMCrtUsrData(msg_svr_type, msg_svr_ver, std::move(label)) {}
CQnPMGetCAData::CQnPMGetCAData(int msg_svr_type, int msg_svr_ver, CString label,
                               CString ca_location)
    : CQnPMCrtUsrData(msg_svr_type, msg_svr_ver, std::move(label), std::move(ca_location)) {}
CQnPMGetCAData::CQnPMGetCAData(int msg_svr_type, int msg_svr_ver, CString label,
                               CString ca_location, CString ca_location2)
    : CQnPMCrtUsrData(msg_svr_type, msg_svr_ver, std::move(label), std::move(ca_location),
                      std::move(ca_location2)) {}
CQnPMGetCAData::CQnPMGetCAData(const CQnPMGetCAData&) = default;
CQnPMGetCAData& CQnPMGetCAData::operator=(const CQnPMGetCAData&) = default;
CQnPMGetCAData::~CQnPMGetCAData() = default;

CQnPMQueryData::CQnPMQueryData() : m_nQueryReqIdLen(0), m_pQueryReqId(nullptr) {}
CQnPMQueryData::CQnPMQueryData(int msg_svr_type, int msg_svr_ver)
    : CQnPMCrtUsrData(msg_svr_type, msg_svr_ver), m_nQueryReqIdLen(0), m_pQueryReqId(nullptr) {}
CQnPMQueryData::CQnPMQueryData(int msg_svr_type, int msg_svr_ver, CString label,
                               CString ca_location, unsigned int query_req_id_len,
                               unsigned char* query_req_id)
    : CQnPMCrtUsrData(msg_svr_type, msg_svr_ver, std::move(label), std::move(ca_location)),
      m_nQueryReqIdLen(query_req_id_len),
      m_pQueryReqId(query_req_id) {}
CQnPMQueryData::CQnPMQueryData(int msg_svr_type, int msg_svr_ver, CString label,
                               CString ca_location, CString ca_location2,
                               unsigned int query_req_id_len, unsigned char* query_req_id)
    : CQnPMCrtUsrData(msg_svr_type, msg_svr_ver, std::move(label), std::move(ca_location),
                      std::move(ca_location2)),
      m_nQueryReqIdLen(query_req_id_len),
      m_pQueryReqId(query_req_id) {}
CQnPMQueryData::CQnPMQueryData(const CQnPMQueryData&) = default;
CQnPMQueryData& CQnPMQueryData::operator=(const CQnPMQueryData&) = default;
CQnPMQueryData::~CQnPMQueryData() = default;

unsigned char* CQnPMQueryData::GetQueryReqId(unsigned int& length) {
  length = m_nQueryReqIdLen;
  return m_pQueryReqId;
}
