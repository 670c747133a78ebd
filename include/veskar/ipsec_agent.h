#ifndef VESKAR_IPSEC_AGENT_H_
#define VESKAR_IPSEC_AGENT_H_

#include <veskar/agent.h>
#include <veskar/export.h>
#include <veskar/toolkit/kmpapi32.h>

// Agent of the IPSec key-management toolkit ("kmpapi32"). The toolkit's
// entry points live in class-wide slots bound once, when the library loads.
class VESKAR_API CQnEntIPSecPMA : public CQnPkiMsgAgent {
 public:
  CQnEntIPSecPMA();
  CQnEntIPSecPMA(const CQnEntIPSecPMA& other);
  CQnEntIPSecPMA& operator=(const CQnEntIPSecPMA& other);
  ~CQnEntIPSecPMA() override;

  // Recomputes m_gbLoaded: 1 when LoadFunctions found every entry point.
  static void Initialization();
  // Looks up the six entry points of the loaded toolkit in order, storing
  // each into its slot, and stops at the first missing one (returning 0);
  // returns 1 when all six were found, 0 when the toolkit is not loaded.
  static int LoadFunctions();

 protected:
  // Writes a new client INI file (name "ENT....ini", owner-only) naming the
  // manager and the directory server. Returns its full path, or an empty
  // string after a file error, with the failure text in m_strError.
  CString CreateEtIniFile(CString& manager, CString& server);
  // Deletes the INI file. Throws CFileException when it cannot.
  void DeleteEtIniFile(CString path);

  static int m_gbLoaded;
  static PFN_IKMPCreateUser m_gpIKMPCreateUser;
  static PFN_IKMPGetErrString m_gpIKMPGetErrString;
  static PFN_IKMPLogin m_gpIKMPLogin;
  static PFN_IKMPGetMyVerifyCertificate m_gpIKMPGetMyVerifyCertificate;
  static PFN_IKMPLogout m_gpIKMPLogout;
  static PFN_IKMPGetEPFName m_gpIKMPGetEPFName;
};

#endif  // VESKAR_IPSEC_AGENT_H_
