#ifndef VESKAR_RECORDS_H_
#define VESKAR_RECORDS_H_

// Request records: the parameter objects a host fills and passes to an
// agent's request operations (see <veskar/agent.h>).
//
// An Entrust agent accepts a record of its message-server type only when it
// is of that agent's record class (or derived from it); a host that derives
// its own record classes must therefore be built with RTTI.
//
// Ownership: a record owns its strings. Byte buffers it refers to (PKCS #10
// requests, query identifiers, CA certificates written by an agent) are held
// by pointer and length only; no record copies, allocates or releases them,
// and copies of a record refer to the same bytes.

#include <veskar/cstring.h>
#include <veskar/export.h>

class CQnEntCmsPMA;
class CQnEntIPSecPMA;

// Base of the family, usable as a record in its own right.
class VESKAR_API CQnPMCrtUsrData {
 public:
  // Stores, in order: message-server type, version, label, CA location,
  // second CA location (the directory).
  CQnPMCrtUsrData(int msg_svr_type = 0, int msg_svr_ver = 0, CString label = CString(),
                  CString ca_location = CString(), CString ca_location2 = CString());
  CQnPMCrtUsrData(const CQnPMCrtUsrData& other);
  CQnPMCrtUsrData& operator=(const CQnPMCrtUsrData& other);
  virtual ~CQnPMCrtUsrData();

  virtual int GetMsgSvrType();
  virtual int GetMsgSvrVer();
  virtual CString GetLabel();
  virtual CString GetCALocation();
  virtual CString GetCALocation2();
  // Empty unless overridden (IPSec records).
  virtual CString GetPW();
  virtual CString GetProfileName();
  // Ignored unless overridden (CMS and Netscape user records). Length first.
  virtual void SetPKCS10Req(unsigned int length, unsigned char* request);
  // 1 unless overridden (Netscape user record).
  virtual int IsOnLine();

 protected:
  int m_nMsgSvrType;
  int m_nMsgSvrVer;
  CString m_strLabel;
  CString m_strCALocation;
  CString m_strCALocation2;
};

// Parameter type of GetCACertificate.
class VESKAR_API CQnPMGetCAData : public CQnPMCrtUsrData {
 public:
  CQnPMGetCAData();
  CQnPMGetCAData(int msg_svr_type, int msg_svr_ver);
  CQnPMGetCAData(int msg_svr_type, int msg_svr_ver, CString label);
  CQnPMGetCAData(int msg_svr_type, int msg_svr_ver, CString label, CString ca_location);
  CQnPMGetCAData(int msg_svr_type, int msg_svr_ver, CString label, CString ca_location,
                 CString ca_location2);
  CQnPMGetCAData(const CQnPMGetCAData& other);
  CQnPMGetCAData& operator=(const CQnPMGetCAData& other);
  ~CQnPMGetCAData() override;
};

// Parameter type of QuerySubmittedCert. The identifier bytes stay the
// caller's and must outlive every record that refers to them.
class VESKAR_API CQnPMQueryData : public CQnPMCrtUsrData {
 public:
  CQnPMQueryData();
  CQnPMQueryData(int msg_svr_type, int msg_svr_ver);
  CQnPMQueryData(int msg_svr_type, int msg_svr_ver, CString label, CString ca_location,
                 unsigned int query_req_id_len, unsigned char* query_req_id);
  CQnPMQueryData(int msg_svr_type, int msg_svr_ver, CString label, CString ca_location,
                 CString ca_location2, unsigned int query_req_id_len, unsigned char* query_req_id);
  CQnPMQueryData(const CQnPMQueryData& other);
  CQnPMQueryData& operator=(const CQnPMQueryData& other);
  ~CQnPMQueryData() override;

  // Stores the identifier's length into `length` and returns its bytes
  // (null when there is none).
  virtual unsigned char* GetQueryReqId(unsigned int& length);

 protected:
  unsigned int m_nQueryReqIdLen;
  unsigned char* m_pQueryReqId;
};

// IPSec user enrollment (message-server type 2, version 0).
class VESKAR_API CQnPMCrtUsrEntIPSec : public CQnPMCrtUsrData {
 public:
  // Note the argument order: label, CA location, directory location,
  // password, profile file name, authorisation code, reference number.
  CQnPMCrtUsrEntIPSec(CString label = CString(), CString ca_location = CString(),
                      CString ca_location2 = CString(), CString password = CString(),
                      CString profile_name = CString(), CString auth_code = CString(),
                      CString ref_num = CString());
  CQnPMCrtUsrEntIPSec(const CQnPMCrtUsrEntIPSec& other);
  CQnPMCrtUsrEntIPSec& operator=(const CQnPMCrtUsrEntIPSec& other);
  ~CQnPMCrtUsrEntIPSec() override;

  CString GetPW() override;
  CString GetProfileName() override;
  CString GetAuthCode();
  CString GetRefNum();
  // The CA certificate an agent stored here (null, 0 until then). The buffer
  // comes from new[] and is the host's to release with delete[]; the record
  // never frees it, and a later enrollment replaces the pointer without
  // freeing it either.
  unsigned char* GetRawCACertificate(unsigned int& length);

 protected:
  friend class CQnEntIPSecPMA;

  CString m_strAuthCode;
  CString m_strRefNum;
  CString m_strPW;
  CString m_strProfileName;
  unsigned char* m_pRawCACert;
  unsigned int m_nRawCACertLen;
};

// CMS certificate enrollment (message-server type 4, version 0).
class VESKAR_API CQnPMCrtUsrEntCms : public CQnPMCrtUsrData {
 public:
  // Publish flag 1, no PKCS #10 request, no CA certificate.
  CQnPMCrtUsrEntCms();
  // Label, CA location, directory location, authorisation code, reference
  // number, publish flag, then the PKCS #10 request's bytes and length (the
  // pointer before the length). The request bytes stay the caller's and must
  // stay valid until the agent call that uses them has returned.
  CQnPMCrtUsrEntCms(CString label, CString ca_location, CString ca_location2, CString auth_code,
                    CString ref_num, int to_publish, unsigned char* pkcs10_req,
                    unsigned int pkcs10_req_len);
  CQnPMCrtUsrEntCms(const CQnPMCrtUsrEntCms& other);
  CQnPMCrtUsrEntCms& operator=(const CQnPMCrtUsrEntCms& other);
  ~CQnPMCrtUsrEntCms() override;

  // Replaces the request pointer and length (length first) without copying
  // or releasing any bytes.
  void SetPKCS10Req(unsigned int length, unsigned char* request) override;
  unsigned char* GetPKCS10Req(unsigned int& length);
  int ToPublish();
  CString GetAuthCode();
  CString GetRefNum();
  // As for CQnPMCrtUsrEntIPSec::GetRawCACertificate.
  unsigned char* GetRawCACertificate(unsigned int& length);

 protected:
  friend class CQnEntCmsPMA;

  CString m_strAuthCode;
  CString m_strRefNum;
  int m_bToPublish;
  unsigned char* m_pPKCS10Req;
  unsigned int m_nPKCS10ReqLen;
  unsigned char* m_pRawCACert;
  unsigned int m_nRawCACertLen;
};

// Netscape user-certificate request (type 1, version 0). Note the argument
// order: CA location first, label third; the request pointer before its
// length.
class VESKAR_API CQnPMCrtUsrNetscape : public CQnPMCrtUsrData {
 public:
  CQnPMCrtUsrNetscape(CString ca_location = CString(), int on_line = 0, CString label = CString(),
                      unsigned char* pkcs10_req = nullptr, unsigned int pkcs10_req_len = 0);
  CQnPMCrtUsrNetscape(const CQnPMCrtUsrNetscape& other);
  CQnPMCrtUsrNetscape& operator=(const CQnPMCrtUsrNetscape& other);
  ~CQnPMCrtUsrNetscape() override;

  void SetPKCS10Req(unsigned int length, unsigned char* request) override;
  unsigned char* GetPKCS10Req(unsigned int& length);
  int IsOnLine() override;

 protected:
  int m_bOnLine;
  unsigned char* m_pPKCS10Req;
  unsigned int m_nPKCS10ReqLen;
};

// Netscape CA-certificate request (type 1, version 4 by default).
class VESKAR_API CQnPMGetCANetscape : public CQnPMGetCAData {
 public:
  CQnPMGetCANetscape();
  CQnPMGetCANetscape(int msg_svr_ver, CString label, CString ca_location);
  CQnPMGetCANetscape(const CQnPMGetCANetscape& other);
  CQnPMGetCANetscape& operator=(const CQnPMGetCANetscape& other);
  ~CQnPMGetCANetscape() override;
};

// Netscape query for a submitted request (type 1, version 4 by default).
class VESKAR_API CQnPMQueryNetscape : public CQnPMQueryData {
 public:
  CQnPMQueryNetscape();
  CQnPMQueryNetscape(int msg_svr_ver, CString label, CString ca_location,
                     unsigned int query_req_id_len, unsigned char* query_req_id);
  CQnPMQueryNetscape(const CQnPMQueryNetscape& other);
  CQnPMQueryNetscape& operator=(const CQnPMQueryNetscape& other);
  ~CQnPMQueryNetscape() override;
};

#endif  // VESKAR_RECORDS_H_
