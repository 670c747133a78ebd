#include "pki/text_fields.h"

namespace veskar::pki {

std::vector<std::string> SplitFields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(separator, start);
    fields.push_back(line.substr(start, end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

}  // namespace veskar::pki
