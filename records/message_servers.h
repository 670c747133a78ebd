#ifndef VESKAR_RECORDS_MESSAGE_SERVERS_H_
#define VESKAR_RECORDS_MESSAGE_SERVERS_H_

#include <veskar/service_bits.h>

namespace veskar {

// Message-server types a record reports: the service-mask bits.
enum MsgSvrType : int {
  kMsgSvrNetscape = kServiceNetscape,
  kMsgSvrEntrustIPSec = kServiceIpsec,
  kMsgSvrEntrustCms = kServiceCms,
};

}  // namespace veskar

#endif  // VESKAR_RECORDS_MESSAGE_SERVERS_H_
