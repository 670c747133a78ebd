#ifndef VESKAR_TESTS_CODEC_BASE64_REFERENCE_H_
#define VESKAR_TESTS_CODEC_BASE64_REFERENCE_H_

// Base64 the plain way, one character at a time with no fast path, for the
// tests and fuzzers to hold the library's conversions against.

#include <cstddef>
#include <cstring>
#include <string>

namespace veskar_test {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The text the encoder must write: LF CR after every 48 bytes, "=" padding.
inline std::string PlainEncode(const unsigned char* in, std::size_t n) {
  std::string text;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned group = unsigned{in[i]} << 16 | unsigned{in[i + 1]} << 8 | in[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kBase64Alphabet[group >> shift & 0x3F];
    if ((i + 3) % 48 == 0) text += "\n\r";
  }
  if (n - i == 2) {
    const unsigned bits = unsigned{in[i]} << 8 | in[i + 1];
    text += kBase64Alphabet[bits >> 10];
    text += kBase64Alphabet[bits >> 4 & 0x3F];
    text += kBase64Alphabet[bits << 2 & 0x3F];
    text += '=';
  } else if (n - i == 1) {
    text += kBase64Alphabet[in[i] >> 2];
    text += kBase64Alphabet[in[i] << 4 & 0x3F];
    text += "==";
  }
  return text;
}

inline unsigned PlainSixBits(unsigned char c) {
  const char* at = c == 0 ? nullptr : std::strchr(kBase64Alphabet, c);
  return at ? static_cast<unsigned>(at - kBase64Alphabet) : 0;
}

inline bool PlainIsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The decoding rules followed step by step. Returns the count the library
// must return; `out` gets the bytes it must write.
inline int PlainDecode(const unsigned char* in, std::size_t n, std::string* out) {
  const auto put = [out](unsigned byte) { *out += static_cast<char>(byte & 0xFF); };
  std::size_t pos = 0;
  while (pos < n) {
    unsigned group = 0;
    int found = 0;
    for (; found < 4; ++found) {
      while (pos < n && PlainIsSpace(in[pos])) ++pos;
      if (pos == n) break;
      if (found >= 2 && in[pos] == '=') break;  // padding: the final quantum
      group = group << 6 | PlainSixBits(in[pos++]);
    }
    if (found == 2) put(group >> 4);
    if (found == 3) {
      put(group >> 10);
      put(group >> 2);
    }
    if (found < 4) break;
    put(group >> 16);
    put(group >> 8);
    put(group);
    while (pos < n && (in[pos] == '\n' || in[pos] == '\r')) ++pos;
    while (pos < n && in[pos] == '\\') {
      if (pos + 1 == n || (in[pos + 1] != 'n' && in[pos + 1] != 'r')) return 0;
      pos += 2;
    }
  }
  return static_cast<int>(out->size());
}

}  // namespace veskar_test

#endif  // VESKAR_TESTS_CODEC_BASE64_REFERENCE_H_
