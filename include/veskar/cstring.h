#ifndef VESKAR_CSTRING_H_
#define VESKAR_CSTRING_H_

#include <veskar/export.h>

#include <string>

// CString: the host framework's string value type, as the library's interface
// passes and returns it. A thin wrapper over std::string that keeps the
// framework's names, so host code written against the framework compiles.
class VESKAR_API CString {
 public:
  CString() = default;
  // A null pointer gives the empty string, as the framework does.
  CString(const char* text);  // NOLINT(google-explicit-constructor): hosts rely on it
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const char* text);
  ~CString() = default;

  // The characters, NUL-terminated; valid until the string next changes.
  operator const char*() const { return text_.c_str(); }  // NOLINT(google-explicit-constructor)

  int GetLength() const { return static_cast<int>(text_.size()); }
  bool IsEmpty() const { return text_.empty(); }
  void Empty() { text_.clear(); }

  // Replaces the content with message `id` of the library's message table.
  // Returns nonzero when the message exists; otherwise leaves the string
  // unchanged and returns 0.
  int LoadString(unsigned int id);
#if defined(_WIN32) && !defined(LoadString)
  // <windows.h> renames LoadString to LoadStringA (LoadStringW under
  // UNICODE); a host that includes it first calls the member by that name.
  int LoadStringA(unsigned int id);
  int LoadStringW(unsigned int id);
#endif

  // Replaces the content with `format` formatted as printf does.
  void Format(const char* format, ...) VESKAR_PRINTF_LIKE(2, 3);
  // Replaces the content with message `format_id` used as a printf format.
  // An unknown message number leaves the string empty. A CString argument
  // stands for its text (as "%s" expects), as the framework's users are
  // used to.
  template <typename... Args>
  void Format(unsigned int format_id, const Args&... args) {
    FormatMessageText(format_id, PrintfArgument(args)...);
  }

  friend bool operator==(const CString& a, const CString& b) { return a.text_ == b.text_; }
  friend bool operator==(const CString& a, const char* b) { return a.text_ == (b ? b : ""); }
  friend bool operator==(const char* a, const CString& b) { return b == a; }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  friend bool operator!=(const char* a, const CString& b) { return !(b == a); }

 private:
  void FormatMessageText(unsigned int format_id, ...);
  static const char* PrintfArgument(const CString& text) { return text; }
  template <typename T>
  static const T& PrintfArgument(const T& value) {
    return value;
  }

  std::string text_;
};

#endif  // VESKAR_CSTRING_H_
