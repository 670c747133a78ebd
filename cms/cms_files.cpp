#include <veskar/cms_agent.h>

#include "files/ini_file.h"
#include "files/temp_files.h"

CString CQnEntCmsPMA::CreateCMSiniFile(CString& manager, CString& server) {
  return veskar::WriteClientIniFile("CMS", manager, server, &m_strError);
}

void CQnEntCmsPMA::DeleteCMSiniFile(CString path) { veskar::IniFile(path).Remove(); }

CString CQnEntCmsPMA::CreateEmptyTempFile(CString prefix, CString extension) {
  return veskar::MakeEmptyTempFile(prefix, extension);
}
