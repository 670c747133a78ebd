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

  // Enrolls the user of an IPSec request (a record of message-server type 2,
  // CQnPMCrtUsrEntIPSec): creates the user first when the record carries both
  // an authorisation code and a reference number, logs in to the profile,
  // fetches the user's verification certificate and the CA certificate, and
  // logs out again.
  //
  // Returns 0 on success: *certificate is a new[] buffer of `length` bytes
  // holding the user certificate (null when it is empty), which the caller
  // releases with delete[]; the record's raw CA certificate length is set
  // and, when not 0, its pointer holds a new[] copy that the host owns. The
  // error string is then "". A success stands even when the INI file could
  // not be deleted afterwards.
  //
  // Otherwise returns a message number with its text in the error string:
  // 51000 (toolkit not bound, null `certificate` or record, or a record that
  // is not a CQnPMCrtUsrEntIPSec of type 2), 53005 (INI file not written),
  // 53004/53003 (user creation asked for without a password/profile name),
  // 53002 (creation failed), 53006 (log-in failed), 53007 (fetch failed).
  // On every failure *certificate is null, `length` is 0 and the record is
  // unchanged. The extended error string is never touched.
  //
  // Throws what the framework throws: std::bad_alloc, or CFileException when
  // the INI file of a failed request cannot be deleted. The toolkit session
  // is closed and the INI file removed before an exception leaves, and the
  // outputs are then null and 0.
  int CreateUserCertificate(unsigned char** certificate, unsigned int& length,
                            CQnPMCrtUsrData* request) override;

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
  // One slot per entry point: m_gpCMSLogin holds the bound CMSLogin.
  VESKAR_KMPAPI32_ENTRY_POINTS(VESKAR_TOOLKIT_DECLARE_SLOT)
};

#endif  // VESKAR_IPSEC_AGENT_H_
