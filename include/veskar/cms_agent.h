#ifndef VESKAR_CMS_AGENT_H_
#define VESKAR_CMS_AGENT_H_

#include <veskar/agent.h>
#include <veskar/export.h>
#include <veskar/toolkit/cmsapi32.h>

// Agent of the CMS client toolkit ("cmsapi32"). The toolkit's entry points
// live in class-wide slots bound when the library loads and again by every
// default construction.
class VESKAR_API CQnEntCmsPMA : public CQnPkiMsgAgent {
 public:
  // Rebinds the toolkit's entry points (Initialization). With the toolkit
  // unchanged since the library loaded, nothing is written, so agents may be
  // constructed on one thread while others run requests.
  CQnEntCmsPMA();
  // Copies the error strings; does not rebind.
  CQnEntCmsPMA(const CQnEntCmsPMA& other);
  CQnEntCmsPMA& operator=(const CQnEntCmsPMA& other);
  ~CQnEntCmsPMA() override;

  // Recomputes m_gbLoaded: 1 when LoadFunctions found every entry point.
  static void Initialization();
  // Looks up all twenty entry points of the loaded toolkit, in order, and
  // stores each into its slot (null for a missing one). Returns 1 when all
  // were found, 0 otherwise or when the toolkit is not loaded (then no slot
  // is touched).
  static int LoadFunctions();

 protected:
  // Writes a new client INI file (name "CMS....ini", owner-only) naming the
  // manager and the directory server. Returns its full path, or an empty
  // string after a file error, with the failure text in m_strError.
  CString CreateCMSiniFile(CString& manager, CString& server);
  // Deletes the INI file. Throws CFileException when it cannot.
  void DeleteCMSiniFile(CString path);
  // Makes a new empty owner-only file in the temporary directory named from
  // `prefix`, carrying `extension` (without the dot) unless that is "tmp".
  // Returns its full path, or an empty string when it could not be made.
  CString CreateEmptyTempFile(CString prefix, CString extension);

  static int m_gbLoaded;
  static PFN_CMSQueryLogWarning m_gpCMSQueryLogWarning;
  static PFN_CMSQueryVersionNumber m_gpCMSQueryVersionNumber;
  static PFN_CMSLogin m_gpCMSLogin;
  static PFN_CMSLogout m_gpCMSLogout;
  static PFN_CMSRequestMyCertificate m_gpCMSRequestMyCertificate;
  static PFN_CMSRetrieveMyCertificate m_gpCMSRetrieveMyCertificate;
  static PFN_CMSCreateReqHdl m_gpCMSCreateReqHdl;
  static PFN_CMSReleaseReqHdl m_gpCMSReleaseReqHdl;
  static PFN_CMSSetReqAttrib m_gpCMSSetReqAttrib;
  static PFN_CMSCreateCertTempl m_gpCMSCreateCertTempl;
  static PFN_CMSReleaseCertTempl m_gpCMSReleaseCertTempl;
  static PFN_CMSSetCertFieldValue m_gpCMSSetCertFieldValue;
  static PFN_CMSReleaseBuffer m_gpCMSReleaseBuffer;
  static PFN_CMSReleaseKeyPair m_gpCMSReleaseKeyPair;
  static PFN_CMSGetLogString m_gpCMSGetLogString;
  static PFN_CMSLogToString m_gpCMSLogToString;
  static PFN_ENTGetEntErr m_gpENTGetEntErr;
  static PFN_ENTGetCertReqModStr m_gpENTGetCertReqModStr;
  static PFN_ENTGetProtectedData m_gpENTGetProtectedData;
  static PFN_ENTPutProtectedData m_gpENTPutProtectedData;
};

#endif  // VESKAR_CMS_AGENT_H_
