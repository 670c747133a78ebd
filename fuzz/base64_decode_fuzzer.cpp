// Any text, decoded: nothing read or written out of bounds, a count that
// fits the buffer, the same result on every code path as a plain
// one-character-at-a-time decoder, and the NUL-terminated form decoding like
// its length. The text is also decoded with most bytes turned into alphabet
// characters, so that the vector paths meet long runs with the odd
// irregular character at any offset.

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

using veskar::base64::Path;

void Check(bool ok, const char* what, Path path) {
  if (ok) return;
  std::fprintf(stderr, "base64_decode_fuzzer: %s (%s path)\n", what,
               veskar::base64::PathName(path));
  std::abort();
}

// Decodes `size` bytes of `data` on the active path and holds the result
// against the plain decoder's.
void CheckDecodes(const std::uint8_t* data, std::size_t size) {
  const Path path = veskar::base64::ActivePath();
  // An exactly-sized heap copy, so that reading one byte past the end is an
  // AddressSanitizer report.
  std::unique_ptr<char[]> text(new char[size]);
  if (size != 0) std::memcpy(text.get(), data, size);

  void* buffer = nullptr;
  const int count = Base64DecodeAlloc(text.get(), size, buffer);
  Check(count >= 0 && buffer != nullptr, "a short text was refused", path);
  Check(static_cast<std::size_t>(count) <= 3 * size / 4, "count exceeds the buffer", path);
  // Reading every counted byte shows they all lie inside the allocation.
  volatile unsigned char sink = 0;
  for (int i = 0; i < count; ++i) sink = sink ^ static_cast<unsigned char*>(buffer)[i];

  std::string expected;
  const int expected_count = veskar_test::PlainDecode(data, size, &expected);
  Check(count == expected_count, "count differs from the plain decoder", path);
  Check(count == 0 || std::memcmp(buffer, expected.data(), expected.size()) == 0,
        "bytes differ from the plain decoder", path);
  Base64Free(buffer);
}

// Bytes from 0xF8 up stand for characters that end a run of the alphabet;
// the others for alphabet characters.
std::string MostlyAlphabet(const std::uint8_t* data, std::size_t size) {
  static const char kIrregular[] = {' ', '\n', '\r', '\\', '=', '-', '\x80', '\0'};
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    text[i] =
        data[i] >= 0xF8 ? kIrregular[data[i] - 0xF8] : veskar_test::kBase64Alphabet[data[i] % 64];
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string mapped = MostlyAlphabet(data, size);
  for (Path path : veskar::base64::kAllPaths) {
    if (!veskar::base64::ForcePath(path)) continue;
    CheckDecodes(data, size);
    CheckDecodes(reinterpret_cast<const std::uint8_t*>(mapped.data()), size);
  }
  veskar::base64::ForceBestPath();

  // With the length -1 the text ends at its first NUL.
  std::unique_ptr<char[]> terminated(new char[size + 1]);
  if (size != 0) std::memcpy(terminated.get(), data, size);
  terminated[size] = '\0';
  const std::size_t prefix = std::strlen(terminated.get());
  void* prefix_buffer = nullptr;
  const int prefix_count = Base64DecodeAlloc(terminated.get(), prefix, prefix_buffer);
  void* minus_one_buffer = nullptr;
  const int minus_one_count =
      Base64DecodeAlloc(terminated.get(), static_cast<unsigned long>(-1), minus_one_buffer);
  const Path path = veskar::base64::ActivePath();
  Check(prefix_count == minus_one_count, "-1 counted differently from the length", path);
  Check(prefix_count < 0 || std::memcmp(prefix_buffer, minus_one_buffer,
                                        static_cast<std::size_t>(prefix_count)) == 0,
        "-1 decoded differently from the length", path);

  Base64Free(prefix_buffer);
  Base64Free(minus_one_buffer);
  return 0;
}
