#include <veskar/ipsec_agent.h>

#include "files/ini_file.h"
#include "files/temp_files.h"

CString CQnEntIPSecPMA::CreateEtIniFile(CString& manager, CString& server) {
  return veskar::WriteClientIniFile("ENT", manager, server, &m_strError);
}

void CQnEntIPSecPMA::DeleteEtIniFile(CString path) { veskar::IniFile(path).Remove(); }
