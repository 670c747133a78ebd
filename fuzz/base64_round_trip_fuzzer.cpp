// Any bytes, encoded on every code path: the text is the plain encoder's,
// has the promised length and shape, and decodes back to the bytes on the
// same path, also with its line breaks rewritten in the other forms the
// decoder accepts between groups.

#include <veskar/base64.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "codec/base64_paths.h"
#include "tests/codec/base64_reference.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "base64_round_trip_fuzzer: %s (%s path)\n", what,
               veskar::base64::PathName(veskar::base64::ActivePath()));
  std::abort();
}

// Decodes `text` and checks that it gives back `size` bytes equal to `data`.
void CheckDecodes(std::string text, const std::uint8_t* data, std::size_t size) {
  void* buffer = nullptr;
  const int count = Base64DecodeAlloc(&text[0], text.size(), buffer);
  Check(count >= 0 && static_cast<std::size_t>(count) == size, "decoded count differs");
  Check(size == 0 || std::memcmp(buffer, data, size) == 0, "decoded bytes differ");
  Base64Free(buffer);
}

const char kTextCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// Breaks the decoder skips between any two groups. (An escape followed by a
// real break is skipped only before a full group: the look-ahead for a
// padded final group does not skip white space.)
const char* const kBreaks[] = {"\r\n", "\n", "\r\r\n\n", "\\n", "\\r\\n", "\\n\\r"};

// The checks on the active path.
void CheckRoundTrip(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
  if (size != 0) std::memcpy(bytes.get(), data, size);

  char* text = nullptr;
  const int count = Base64EncodeAlloc(bytes.get(), size, text);
  Check(count >= 0 && text != nullptr, "a short input was refused");
  const std::size_t expected = 4 * ((size + 2) / 3) + 2 * (size / 48);
  Check(static_cast<std::size_t>(count) == expected, "wrong character count");
  Check(std::strlen(text) == expected, "count and NUL disagree");
  for (std::size_t i = 0; i < expected; ++i) {
    // 64 characters, then LF CR, for every 48 bytes.
    const bool at_break = i % 66 >= 64;
    const char c = text[i];
    const bool ok = at_break ? c == (i % 66 == 64 ? '\n' : '\r')
                             : c != '\0' && std::strchr(kTextCharacters, c) != nullptr;
    Check(ok, "unexpected character in the text");
  }

  const std::string plain(text, expected);
  Check(plain == veskar_test::PlainEncode(data, size), "text differs from the plain encoder");
  CheckDecodes(plain, bytes.get(), size);
  if (size != 0) {
    std::string rewritten;
    const std::string other = kBreaks[data[0] % (sizeof(kBreaks) / sizeof(kBreaks[0]))];
    for (std::size_t i = 0; i < plain.size(); ++i) {
      if (plain.compare(i, 2, "\n\r") == 0) {
        rewritten += other;
        ++i;
      } else {
        rewritten += plain[i];
      }
    }
    CheckDecodes(rewritten, bytes.get(), size);
  }
  Base64Free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (veskar::base64::Path path : veskar::base64::kAllPaths) {
    if (veskar::base64::ForcePath(path)) CheckRoundTrip(data, size);
  }
  veskar::base64::ForceBestPath();
  return 0;
}
