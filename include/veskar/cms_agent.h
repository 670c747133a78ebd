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

  // Enrolls the user of `request`, which must be a CQnPMCrtUsrEntCms
  // (message-server type 4), through the toolkit: one login, request,
  // issue and retrieval, released in reverse order before returning.
  //
  // On success returns 0 with the user's certificate in a new buffer
  // (*certificate, from new[], released by the caller with delete[]; null
  // when the toolkit returned an empty one) and its length, stores a new
  // copy of the CA certificate in the record (see GetRawCACertificate), and
  // writes both, labelled "Verification Certificate" and "CA Verification
  // Certificate", to a new protected-data file in the temporary directory,
  // protected by the reference number.
  //
  // On failure returns a message number (51000: toolkit not bound, no record,
  // wrong type, or a null `certificate`; 52003 to 52010: the failing step)
  // with its text in GetErrorString() and the toolkit's own reason, when it
  // gave one, in GetExtendedErrorString(); *certificate is null and length 0.
  // An exception (out of memory, or CFileException when the INI file cannot
  // be removed after a failed request) reaches the caller after the same
  // clean-up.
  int CreateUserCertificate(unsigned char** certificate, unsigned int& length,
                            CQnPMCrtUsrData* request) override;

  // Stores `length` bytes at `data` (not copied, not freed) in the
  // protected-data file `path` under `label`, protected by `protection`.
  // Failures are not reported. Use only while the CMS toolkit is bound
  // (m_gbLoaded); without the entry point it needs, it does nothing.
  void PutToProtectedFile(CString label, unsigned char* data, unsigned int length, CString path,
                          CString protection);
  // Reads the item `label` of the protected-data file `path`. On success
  // *data is a new buffer (new[], the caller's to delete[]) of `length`
  // bytes; when the item is empty, missing or unreadable, *data is null and
  // length 0.
  void GetFromProtectedFile(CString label, CString path, CString protection, unsigned char** data,
                            unsigned int& length);

 protected:
  // Runs the enrollment with values already read from `record`.
  int CreateNewCertificate(CString ca_location, CString ca_location2, CString auth_code,
                           CString ref_num, int to_publish, unsigned char* pkcs10_req,
                           unsigned int pkcs10_req_len, unsigned char** certificate,
                           unsigned int& length, CQnPMCrtUsrEntCms* record);
  // Prepares a key pair for the toolkit: five zero words, kind 2, no
  // certificate.
  void InitKeyPair(KeyPair* key_pair);

  // The status check: 0 when `status` is 0 or only a warning, else 1. Puts
  // the toolkit's text for a nonzero status into m_strError and, for a
  // failure with a login, its reason (when it gives one) into
  // m_strExtendedError. REQUIRES: the toolkit is bound.
  int HasError(int status, void* login);
  // Sends the authorisation code, the reference number, the publish flag (as
  // 1 or 0) and the PKCS #10 request, in that order, stopping at the first
  // failure. Returns 0 when all four were set, else 1.
  int SetAllReqAttributeValue(void* login, void* request, CString& auth_code, CString& ref_num,
                              int to_publish, unsigned int pkcs10_req_len,
                              unsigned char* pkcs10_req);
  // Sets one request attribute; returns HasError's verdict.
  int SetReqAttributeValue(void* login, void* request, CMSReqAttribType attribute, CMSDataType kind,
                           unsigned int length, unsigned char* value);
  // Sets template field 0 to the integer 2. Returns 0 when set, else 1.
  int SetAllCertTemplateFields(void* login, void* cert_template);
  // Sets one template field; returns HasError's verdict.
  int SetCertTemplateField(void* login, void* cert_template, FieldName field, CMSDataType kind,
                           unsigned int length, unsigned char* value);

  // The toolkit's own records, passed through.
  void PutToProtectedFile(CString label, CMSBinaryData* data, CString path, CString protection);
  void GetFromProtectedFile(CString label, CString path, CString protection, CMSBinaryData* result);

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
  // One slot per entry point: m_gpCMSLogin holds the bound CMSLogin.
  VESKAR_CMSAPI32_ENTRY_POINTS(VESKAR_TOOLKIT_DECLARE_SLOT)
};

#endif  // VESKAR_CMS_AGENT_H_
