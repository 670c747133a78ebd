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

CString::~CString() { Wipe(); }

CString& CString::operator=(const CString& other) {
  if (this != &other) Replace(std::string(other.text_));
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) Replace(std::move(other.text_));
  return *this;
}

CString& CString::operator=(const char* text) {
  Replace(std::string(text ? text : ""));
  return *this;
}

void CString::Wipe() noexcept {
  // Growing to the capacity never reallocates, and makes every byte that
  // ever held text part of the string, so it may be written.
  text_.resize(text_.capacity());
  // Volatile stores: the compiler may not drop them as dead.
  volatile char* bytes = &text_[0];
  for (size_t i = 0; i < text_.size(); ++i) bytes[i] = '\0';
  text_.clear();
}

void CString::Replace(std::string&& fresh) noexcept {
  Wipe();
  text_.swap(fresh);
}

int CString::LoadString(unsigned int id) {
  std::string text;
  if (!veskar::LoadMessageText(id, &text)) return 0;
  Replace(std::move(text));
  return 1;
}

#if defined(_WIN32)
int CString::LoadStringA(unsigned int id) { return LoadString(id); }
int CString::LoadStringW(unsigned int id) { return LoadString(id); }
#endif

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string fresh;
  VFormat(&fresh, format ? format : "", args);
  va_end(args);
  Replace(std::move(fresh));
}

void CString::FormatMessageText(unsigned int format_id, ...) {
  std::string format;
  veskar::LoadMessageText(format_id, &format);
  va_list args;
  va_start(args, format_id);
  std::string fresh;
  VFormat(&fresh, format.c_str(), args);
  va_end(args);
  Replace(std::move(fresh));
}
