#ifndef VESKAR_RECORDS_MESSAGE_SERVERS_H_
#define VESKAR_RECORDS_MESSAGE_SERVERS_H_

namespace veskar {

// Message-server types a record reports, the same numbers as the
// service-mask bits.
enum MsgSvrType : int {
  kMsgSvrNetscape = 1,
  kMsgSvrEntrustIPSec = 2,
  kMsgSvrEntrustCms = 4,
};

}  // namespace veskar

#endif  // VESKAR_RECORDS_MESSAGE_SERVERS_H_
