#ifndef VESKAR_FRAMEWORK_MESSAGE_TABLE_H_
#define VESKAR_FRAMEWORK_MESSAGE_TABLE_H_

#include <cstddef>

namespace veskar {

struct MessageEntry {
  unsigned int id;
  const char* text;
};

// The library's message table, ascending by number. Stays valid for the
// life of the process.
const MessageEntry* MessageTable(size_t* count);

// The text of message `id`, or null when the table has no such number.
const char* FindMessage(unsigned int id);

}  // namespace veskar

#endif  // VESKAR_FRAMEWORK_MESSAGE_TABLE_H_
