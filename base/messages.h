#ifndef VESKAR_BASE_MESSAGES_H_
#define VESKAR_BASE_MESSAGES_H_

#include <veskar/cstring.h>

namespace veskar {

// Message numbers the agents report; their texts are in the message table.
enum MessageId : int {
  kMsgSuccess = 0,
  kMsgIniTemplate = 42157,
  kMsgServiceNotAvailable = 51000,
  kMsgNetscapeCaFailed = 51001,
  kMsgNetscapeUserFailed = 51003,
  kMsgNetscapeQueryEmpty = 51005,
  kMsgCmsLoginFailed = 52003,
  kMsgCmsCreateRequestFailed = 52004,
  kMsgCmsCreateTemplateFailed = 52005,
  kMsgCmsSetAttributesFailed = 52006,
  kMsgCmsSetFieldsFailed = 52007,
  kMsgCmsIssueFailed = 52008,
  kMsgCmsRetrieveFailed = 52009,
  kMsgCmsIniFailed = 52010,
  kMsgIpsecCreateUserFailed = 53002,
  kMsgIpsecNeedProfileName = 53003,
  kMsgIpsecNeedPassword = 53004,
  kMsgIpsecIniFailed = 53005,
  kMsgIpsecLoginFailed = 53006,
  kMsgIpsecRetrieveFailed = 53007,
};

// Loads the text of message `id` into `*error` (replacing it) and returns `id`.
inline int ReportMessage(CString* error, int id) {
  error->LoadString(static_cast<unsigned int>(id));
  return id;
}

}  // namespace veskar

#endif  // VESKAR_BASE_MESSAGES_H_
