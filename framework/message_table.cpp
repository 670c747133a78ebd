#include "framework/message_table.h"

#include <algorithm>
#include <iterator>

namespace veskar {
namespace {

// Generated at configure time from resources/messages.json.
constexpr MessageEntry kMessages[] = {
#include "veskar_messages.inc"
};

}  // namespace

const MessageEntry* MessageTable(size_t* count) {
  *count = std::size(kMessages);
  return kMessages;
}

const char* FindMessage(unsigned int id) {
  const MessageEntry* end = std::end(kMessages);
  const MessageEntry* it =
      std::lower_bound(std::begin(kMessages), end, id,
                       [](const MessageEntry& entry, unsigned int key) { return entry.id < key; });
  return (it != end && it->id == id) ? it->text : nullptr;
}

}  // namespace veskar
