#include "record_state.h"

#include <sstream>

namespace veskar_test {
namespace {

void AddBytes(std::ostream& out, const char* name, const unsigned char* bytes,
              unsigned int length) {
  out << ' ' << name << '=' << static_cast<const void*>(bytes) << '/' << length;
}

}  // namespace

std::string DescribeRecord(CQnPMCrtUsrData& record) {
  std::ostringstream out;
  out << "type=" << record.GetMsgSvrType() << " ver=" << record.GetMsgSvrVer() << " label='"
      << record.GetLabel() << "' ca='" << record.GetCALocation() << "' ca2='"
      << record.GetCALocation2() << "' pw='" << record.GetPW() << "' profile='"
      << record.GetProfileName() << "' online=" << record.IsOnLine();
  unsigned int length = 0xDEADu;
  if (auto* query = dynamic_cast<CQnPMQueryData*>(&record)) {
    unsigned char* id = query->GetQueryReqId(length);
    AddBytes(out, "query_id", id, length);
  }
  if (auto* ipsec = dynamic_cast<CQnPMCrtUsrEntIPSec*>(&record)) {
    out << " auth='" << ipsec->GetAuthCode() << "' ref='" << ipsec->GetRefNum() << "'";
    unsigned char* ca_cert = ipsec->GetRawCACertificate(length);
    AddBytes(out, "ca_cert", ca_cert, length);
  }
  if (auto* cms = dynamic_cast<CQnPMCrtUsrEntCms*>(&record)) {
    out << " auth='" << cms->GetAuthCode() << "' ref='" << cms->GetRefNum()
        << "' publish=" << cms->ToPublish();
    unsigned char* request = cms->GetPKCS10Req(length);
    AddBytes(out, "pkcs10", request, length);
    unsigned char* ca_cert = cms->GetRawCACertificate(length);
    AddBytes(out, "ca_cert", ca_cert, length);
  }
  if (auto* netscape = dynamic_cast<CQnPMCrtUsrNetscape*>(&record)) {
    unsigned char* request = netscape->GetPKCS10Req(length);
    AddBytes(out, "pkcs10", request, length);
  }
  return out.str();
}

std::string Long(const char* text) {
  return std::string(text) + " (padded well past any small-string buffer)";
}

}  // namespace veskar_test
