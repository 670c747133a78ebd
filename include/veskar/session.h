#ifndef VESKAR_SESSION_H_
#define VESKAR_SESSION_H_

#include <veskar/export.h>

// A plain-data certificate session of which the library carries only the
// accessors below; its status values are produced by the host.
class VESKAR_API CCertSession {
 public:
  enum CertStatus {
    kCertStatusUnknown = 0,
    kCertStatusPending = 1,
    kCertStatusIssued = 2,
    kCertStatusRejected = 3,
  };

  // Trivial: a host declares sessions as plain data (and copies them); only
  // the assignment below is the library's.
  CCertSession() = default;
  CCertSession(const CCertSession&) = default;

  int GetStatus();
  CertStatus GetCertStatus();
  int IsNetscape1x();
  void SetNetscape1x(int netscape1x);
  // Releases `certificate` with free(); it must come from malloc(). Null is
  // ignored.
  void FreeRawCertificate(void* certificate);
  // Copies every member.
  CCertSession& operator=(const CCertSession& other);

  int m_nStatus;
  CertStatus m_nCertStatus;
  int m_bNetscape1x;
  void* m_pRawCertificate;
  unsigned int m_nRawCertificateLen;
};

// A query and a request of the same plain-data layout as the session.
class VESKAR_API CCertQuery : public CCertSession {
 public:
  CCertQuery() = default;
  CCertQuery(const CCertQuery&) = default;
  CCertQuery& operator=(const CCertQuery& other);
};

class VESKAR_API CCertRequest : public CCertSession {
 public:
  CCertRequest() = default;
  CCertRequest(const CCertRequest&) = default;
  CCertRequest& operator=(const CCertRequest& other);
};

#endif  // VESKAR_SESSION_H_
