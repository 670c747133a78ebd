#include <veskar/cstring.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/message_text.h"

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
  std::string text;
  if (!veskar::LoadMessageText(id, &text)) return 0;
  text_ = std::move(text);
  return 1;
}

#if defined(_WIN32)
int CString::LoadStringA(unsigned int id) { return LoadString(id); }
int CString::LoadStringW(unsigned int id) { return LoadString(id); }
#endif

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VFormat(&text_, format ? format : "", args);
  va_end(args);
}

void CString::FormatMessageText(unsigned int format_id, ...) {
  std::string format;
  veskar::LoadMessageText(format_id, &format);
  va_list args;
  va_start(args, format_id);
  VFormat(&text_, format.c_str(), args);
  va_end(args);
}
