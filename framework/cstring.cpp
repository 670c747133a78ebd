#include <veskar/cstring.h>

#include <cstdarg>
#include <cstdio>

#include "framework/message_table.h"

namespace {

// Formats into `out`; on an encoding error the string is left empty.
void VFormat(std::string* out, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  out->clear();
  if (needed <= 0) return;
  out->resize(static_cast<size_t>(needed) + 1);
  std::vsnprintf(&(*out)[0], out->size(), format, args);
  out->resize(static_cast<size_t>(needed));
}

}  // namespace

CString::CString(const char* text) : text_(text ? text : "") {}

CString& CString::operator=(const char* text) {
  text_ = text ? text : "";
  return *this;
}

int CString::LoadString(unsigned int id) {
  const char* text = veskar::FindMessage(id);
  if (text == nullptr) return 0;
  text_ = text;
  return 1;
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VFormat(&text_, format ? format : "", args);
  va_end(args);
}

void CString::FormatMessageText(unsigned int format_id, ...) {
  const char* format = veskar::FindMessage(format_id);
  va_list args;
  va_start(args, format_id);
  VFormat(&text_, format ? format : "", args);
  va_end(args);
}
