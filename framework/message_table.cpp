#include <algorithm>
#include <iterator>

#include "platform/message_text.h"

namespace veskar {
namespace {

struct MessageEntry {
  unsigned int id;
  const char* text;
};

// Generated at configure time from resources/messages.json.
constexpr MessageEntry kMessages[] = {
#include "veskar_messages.inc"
};

}  // namespace

bool LoadMessageText(unsigned int id, std::string* text) {
  const MessageEntry* end = std::end(kMessages);
  const MessageEntry* it =
      std::lower_bound(std::begin(kMessages), end, id,
                       [](const MessageEntry& entry, unsigned int key) { return entry.id < key; });
  if (it == end || it->id != id) return false;
  *text = it->text;
  return true;
}

}  // namespace veskar
