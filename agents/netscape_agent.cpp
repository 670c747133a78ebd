#include <veskar/agent.h>

#include "framework/messages.h"

CQnNetscapePMA::CQnNetscapePMA() = default;
CQnNetscapePMA::CQnNetscapePMA(const CQnNetscapePMA&) = default;
CQnNetscapePMA& CQnNetscapePMA::operator=(const CQnNetscapePMA&) = default;
CQnNetscapePMA::~CQnNetscapePMA() = default;

int CQnNetscapePMA::CreateUserCertificate(unsigned char**, unsigned int&, CQnPMCrtUsrData*) {
  return veskar::kMsgNetscapeUserFailed;
}

int CQnNetscapePMA::GetCACertificate(unsigned char**, unsigned int&, CQnPMGetCAData*) {
  return veskar::kMsgNetscapeCaFailed;
}

int CQnNetscapePMA::QuerySubmittedCert(unsigned char**, unsigned int&, CQnPMQueryData*) {
  return veskar::kMsgNetscapeQueryEmpty;
}
