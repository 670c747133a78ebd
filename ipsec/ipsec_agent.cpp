#include <veskar/ipsec_agent.h>

CQnEntIPSecPMA::CQnEntIPSecPMA() = default;
CQnEntIPSecPMA::CQnEntIPSecPMA(const CQnEntIPSecPMA&) = default;
CQnEntIPSecPMA& CQnEntIPSecPMA::operator=(const CQnEntIPSecPMA&) = default;
CQnEntIPSecPMA::~CQnEntIPSecPMA() = default;
