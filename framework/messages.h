#ifndef VESKAR_FRAMEWORK_MESSAGES_H_
#define VESKAR_FRAMEWORK_MESSAGES_H_

#include <veskar/cstring.h>
#include <veskar/message_ids.h>

namespace veskar {

// Loads the text of message `id` into `*error` (replacing it) and returns `id`.
inline int ReportMessage(CString* error, int id) {
  error->LoadString(static_cast<unsigned int>(id));
  return id;
}

}  // namespace veskar

#endif  // VESKAR_FRAMEWORK_MESSAGES_H_
