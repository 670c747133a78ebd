#ifndef VESKAR_PLATFORM_MESSAGE_TEXT_H_
#define VESKAR_PLATFORM_MESSAGE_TEXT_H_

#include <string>

namespace veskar {

// Stores the text of message `id` into *text and returns true, or returns
// false (leaving *text alone) when the library has no such message. Where
// the platform keeps string resources (Windows, platform/win32) the text is
// read from the library's own; elsewhere the framework's table compiled into
// the library answers (framework/message_table.cpp). Both are generated from
// the same data.
bool LoadMessageText(unsigned int id, std::string* text);

}  // namespace veskar

#endif  // VESKAR_PLATFORM_MESSAGE_TEXT_H_
