#include <veskar/session.h>

#include <cstdlib>

int CCertSession::GetStatus() { return m_nStatus; }
CCertSession::CertStatus CCertSession::GetCertStatus() { return m_nCertStatus; }
int CCertSession::IsNetscape1x() { return m_bNetscape1x; }
void CCertSession::SetNetscape1x(int netscape1x) { m_bNetscape1x = netscape1x; }
void CCertSession::FreeRawCertificate(void* certificate) { std::free(certificate); }
CCertSession& CCertSession::operator=(const CCertSession&) = default;

CCertQuery& CCertQuery::operator=(const CCertQuery&) = default;
CCertRequest& CCertRequest::operator=(const CCertRequest&) = default;
