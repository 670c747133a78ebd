#include <veskar/cms_agent.h>

CQnEntCmsPMA::CQnEntCmsPMA() { Initialization(); }
CQnEntCmsPMA::CQnEntCmsPMA(const CQnEntCmsPMA&) = default;
CQnEntCmsPMA& CQnEntCmsPMA::operator=(const CQnEntCmsPMA&) = default;
CQnEntCmsPMA::~CQnEntCmsPMA() = default;
