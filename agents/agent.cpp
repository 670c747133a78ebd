#include <veskar/agent.h>
#include <veskar/services.h>

#include "framework/messages.h"

CQnPkiMsgAgent::CQnPkiMsgAgent() = default;
CQnPkiMsgAgent::CQnPkiMsgAgent(const CQnPkiMsgAgent&) = default;
CQnPkiMsgAgent& CQnPkiMsgAgent::operator=(const CQnPkiMsgAgent&) = default;
CQnPkiMsgAgent::~CQnPkiMsgAgent() = default;

CString CQnPkiMsgAgent::GetErrorString() { return m_strError; }
CString CQnPkiMsgAgent::GetExtendedErrorString() { return m_strExtendedError; }

void* CQnPkiMsgAgent::LogIn(void*) {
  veskar::ReportMessage(&m_strError, veskar::kMsgServiceNotAvailable);
  return nullptr;
}

void CQnPkiMsgAgent::LogOut(void*) {}

int CQnPkiMsgAgent::CreateUserCertificate(unsigned char**, unsigned int&, CQnPMCrtUsrData*) {
  return veskar::ReportMessage(&m_strError, veskar::kMsgServiceNotAvailable);
}

int CQnPkiMsgAgent::GetCACertificate(unsigned char**, unsigned int&, CQnPMGetCAData*) {
  return veskar::ReportMessage(&m_strError, veskar::kMsgServiceNotAvailable);
}

int CQnPkiMsgAgent::QuerySubmittedCert(unsigned char**, unsigned int&, CQnPMQueryData*) {
  return veskar::ReportMessage(&m_strError, veskar::kMsgServiceNotAvailable);
}

int CQnPkiMsgAgent::GetPkiMsgAvaliableServices() { return GetAvaliableServices(); }
