#ifndef VESKAR_FRAMEWORK_MESSAGE_TABLE_H_
#define VESKAR_FRAMEWORK_MESSAGE_TABLE_H_

#include <string>

namespace veskar {

// Stores the text of message `id` into *text and returns true, or returns
// false (leaving *text alone) when the library has no such message. Where
// the platform keeps string resources (Windows) the text is read from the
// library's own; elsewhere it comes from a table compiled into the library.
// Both are generated from the same data.
bool LoadMessageText(unsigned int id, std::string* text);

}  // namespace veskar

#endif  // VESKAR_FRAMEWORK_MESSAGE_TABLE_H_
