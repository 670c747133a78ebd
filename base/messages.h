#ifndef VESKAR_BASE_MESSAGES_H_
#define VESKAR_BASE_MESSAGES_H_

#include <veskar/cstring.h>

namespace veskar {

// Message numbers the agents report; their texts are in the message table.
// The named numbers are generated from resources/messages.json.
enum MessageId : int {
  kMsgSuccess = 0,
#include "veskar_message_ids.inc"
};

// Loads the text of message `id` into `*error` (replacing it) and returns `id`.
inline int ReportMessage(CString* error, int id) {
  error->LoadString(static_cast<unsigned int>(id));
  return id;
}

}  // namespace veskar

#endif  // VESKAR_BASE_MESSAGES_H_
