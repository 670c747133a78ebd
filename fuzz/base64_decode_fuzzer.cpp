// Any text, decoded: nothing read or written out of bounds, a count that
// fits the buffer, and the NUL-terminated form decoding like its length.

#include <veskar/base64.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "base64_decode_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exactly-sized heap copy, so that reading one byte past the end is an
  // AddressSanitizer report.
  std::unique_ptr<char[]> text(new char[size]);
  if (size != 0) std::memcpy(text.get(), data, size);

  void* buffer = nullptr;
  const int count = Base64DecodeAlloc(text.get(), size, buffer);
  Check(count >= 0 && buffer != nullptr, "a short text was refused");
  Check(static_cast<std::size_t>(count) <= 3 * size / 4, "count exceeds the buffer");
  // Reading every counted byte shows they all lie inside the allocation.
  volatile unsigned char sink = 0;
  for (int i = 0; i < count; ++i) sink = sink ^ static_cast<unsigned char*>(buffer)[i];

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
  Check(prefix_count == minus_one_count, "-1 counted differently from the length");
  Check(prefix_count < 0 || std::memcmp(prefix_buffer, minus_one_buffer,
                                        static_cast<std::size_t>(prefix_count)) == 0,
        "-1 decoded differently from the length");

  Base64Free(buffer);
  Base64Free(prefix_buffer);
  Base64Free(minus_one_buffer);
  return 0;
}
