#ifndef VESKAR_AGENT_H_
#define VESKAR_AGENT_H_

#include <veskar/cstring.h>
#include <veskar/export.h>
#include <veskar/records.h>

// Base of the PKI message agents. Every request operation returns a message
// number: 0 for success, otherwise the number of a message whose text the
// agent puts into its error string (GetErrorString). The base answers every
// request with 51000, "Certificate Service is not avaliable".
//
// An agent keeps no reference to a record or toolkit handle after a call.
// One agent must not be used by two threads at once.
class VESKAR_API CQnPkiMsgAgent {
 public:
  // Both error strings empty.
  CQnPkiMsgAgent();
  CQnPkiMsgAgent(const CQnPkiMsgAgent& other);
  CQnPkiMsgAgent& operator=(const CQnPkiMsgAgent& other);
  virtual ~CQnPkiMsgAgent();

  // The text of the last message an operation reported ("" after success).
  virtual CString GetErrorString();
  // The toolkit's own reason for the last failure (CMS agent only).
  virtual CString GetExtendedErrorString();
  // Reports 51000 and returns null.
  virtual void* LogIn(void* parameters);
  // Does nothing.
  virtual void LogOut(void* session);
  // Request operations. On success an agent stores a new buffer (from new[],
  // released by the caller with delete[]) into *certificate and its length
  // into `length`. The base reports 51000 and touches neither.
  virtual int CreateUserCertificate(unsigned char** certificate, unsigned int& length,
                                    CQnPMCrtUsrData* request);
  virtual int GetCACertificate(unsigned char** certificate, unsigned int& length,
                               CQnPMGetCAData* request);
  virtual int QuerySubmittedCert(unsigned char** certificate, unsigned int& length,
                                 CQnPMQueryData* request);

  // The same as GetAvaliableServices().
  static int GetPkiMsgAvaliableServices();

 protected:
  CString m_strError;
  CString m_strExtendedError;
};

// Agent of a Netscape certificate server. Its operations do no network work:
// they return fixed message numbers and change nothing, not even the error
// string.
class VESKAR_API CQnNetscapePMA : public CQnPkiMsgAgent {
 public:
  CQnNetscapePMA();
  CQnNetscapePMA(const CQnNetscapePMA& other);
  CQnNetscapePMA& operator=(const CQnNetscapePMA& other);
  ~CQnNetscapePMA() override;

  // Returns 51003.
  int CreateUserCertificate(unsigned char** certificate, unsigned int& length,
                            CQnPMCrtUsrData* request) override;
  // Returns 51001.
  int GetCACertificate(unsigned char** certificate, unsigned int& length,
                       CQnPMGetCAData* request) override;
  // Returns 51005.
  int QuerySubmittedCert(unsigned char** certificate, unsigned int& length,
                         CQnPMQueryData* request) override;
};

#endif  // VESKAR_AGENT_H_
