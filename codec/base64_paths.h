#ifndef VESKAR_CODEC_BASE64_PATHS_H_
#define VESKAR_CODEC_BASE64_PATHS_H_

// The Base64 conversions' code paths. Each conversion runs the best vector
// path this build and CPU offer over the regular stretches of its input and
// the scalar code over the rest; every path gives exactly the same results.
// Nothing here is exported from the shared library.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace veskar {
namespace base64 {

enum class Path { kScalar, kSsse3, kAvx2, kAvx512Vbmi };

constexpr Path kAllPaths[] = {Path::kScalar, Path::kSsse3, Path::kAvx2, Path::kAvx512Vbmi};

const char* PathName(Path path);

// Whether this build has `path` and this CPU can run it. The scalar path is
// always there.
bool PathAvailable(Path path);

// For tests, fuzzers and benchmarks: makes every later conversion in the
// process take `path`. Returns false, changing nothing, when `path` is not
// available. ForceBestPath goes back to the choice made at start.
bool ForcePath(Path path);
void ForceBestPath();

// The path the conversions take now.
Path ActivePath();

// One vector path's two loops. The scalar code calls them where a run of
// regular input begins and carries on from where they stop.
struct VectorKernels {
  // Encodes `lines` whole lines of kLineBytes input bytes each into
  // kLineChars characters and a line feed and carriage return.
  void (*encode_lines)(const unsigned char* in, std::size_t lines, char* out);
  // Decodes groups of four alphabet characters only, from the start of `in`,
  // in whole blocks while at least kDecodeMargin characters are left, and
  // stops before the first block holding anything else; the widest path
  // first decodes the clean groups at the start of that block, and takes
  // the end of a text as a shorter block. Between groups it may step over a run of line feeds
  // and carriage returns. Returns the position just after the last group
  // decoded (0 for none) and moves `*out` past the bytes decoded. It may
  // scribble on the bytes after those, in a buffer that has room for
  // 3 * length / 4.
  std::size_t (*decode_clean)(const unsigned char* in, std::size_t length, unsigned char** out);
};

constexpr std::size_t kLineBytes = 48;
constexpr std::size_t kLineChars = 64;
// 44 characters leave room for 33 bytes of output, one 32-byte store.
constexpr std::size_t kDecodeMargin = 44;

// The kernels of a vector path, or null for the scalar path or when the
// build or the CPU lacks it. Each build compiles one definition of this:
// the x86 one, or one with no vector paths for other targets.
const VectorKernels* FindVectorKernels(Path path);

// The AVX-512 VBMI kernels, or null when the CPU or the OS cannot run them;
// compiled into x86 builds whose compiler has the instruction set.
const VectorKernels* FindAvx512VbmiKernels();

// The line break the encoder writes after each line.
inline char* EndLine(char* out) {
  out[0] = '\n';
  out[1] = '\r';
  return out + 2;
}

inline bool IsLineBreak(unsigned char c) { return c == '\n' || c == '\r'; }

// The position of the first character from `from` on that is not a line
// break, or `length`.
inline std::size_t SkipLineBreaks(const unsigned char* in, std::size_t from, std::size_t length) {
  while (from < length && IsLineBreak(in[from])) ++from;
  return from;
}

// Two bytes as one load, for comparing a run of line breaks at once.
inline std::uint16_t LoadTwo(const unsigned char* from) {
  std::uint16_t bytes;
  std::memcpy(&bytes, from, 2);
  return bytes;
}

}  // namespace base64
}  // namespace veskar

#endif  // VESKAR_CODEC_BASE64_PATHS_H_
