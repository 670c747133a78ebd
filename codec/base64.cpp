// The exported Base64 conversions. Each is one pass over its input into one
// buffer sized from the input length alone; the tables below are built at
// compile time so that the passes do a lookup per six bits or fewer. Where
// the CPU has a vector path, it takes the whole lines of the encoder and the
// runs of plain alphabet characters of the decoder, and this code the rest.

#include <veskar/base64.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "codec/base64_paths.h"

namespace veskar {
namespace base64 {
namespace {

constexpr int kBestPath = -1;
std::atomic<int> forced_path{kBestPath};

Path BestPath() {
  for (Path path : {Path::kAvx512Vbmi, Path::kAvx2, Path::kSsse3}) {
    if (FindVectorKernels(path) != nullptr) return path;
  }
  return Path::kScalar;
}

Path ChosenPath() {
  static const Path chosen = BestPath();
  return chosen;
}

// Looked up once per conversion: the chosen path's kernels, or a forced one's.
const VectorKernels* ActiveKernels() {
  static const VectorKernels* const chosen = FindVectorKernels(ChosenPath());
  const int forced = forced_path.load(std::memory_order_relaxed);
  return forced == kBestPath ? chosen : FindVectorKernels(static_cast<Path>(forced));
}

}  // namespace

const char* PathName(Path path) {
  switch (path) {
    case Path::kSsse3:
      return "ssse3";
    case Path::kAvx2:
      return "avx2";
    case Path::kAvx512Vbmi:
      return "avx512vbmi";
    case Path::kScalar:
      break;
  }
  return "scalar";
}

bool PathAvailable(Path path) {
  return path == Path::kScalar || FindVectorKernels(path) != nullptr;
}

bool ForcePath(Path path) {
  if (!PathAvailable(path)) return false;
  forced_path.store(static_cast<int>(path), std::memory_order_relaxed);
  return true;
}

void ForceBestPath() { forced_path.store(kBestPath, std::memory_order_relaxed); }

Path ActivePath() {
  const int forced = forced_path.load(std::memory_order_relaxed);
  return forced == kBestPath ? ChosenPath() : static_cast<Path>(forced);
}

}  // namespace base64
}  // namespace veskar

namespace {

using veskar::base64::EndLine;
using veskar::base64::kDecodeMargin;
using veskar::base64::kLineBytes;
using veskar::base64::kLineChars;
using veskar::base64::SkipLineBreaks;
using veskar::base64::VectorKernels;

constexpr int kFailure = -1;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint64_t EncodedLength(std::uint64_t length) {
  return 4 * ((length + 2) / 3) + 2 * (length / kLineBytes);
}

// The longest input whose character count still fits the int result. Its
// buffer (2 * length + 3) fits in 32 bits as well.
constexpr unsigned long kMaxEncodeLength = 1561806288;
static_assert(EncodedLength(kMaxEncodeLength) <= INT_MAX, "count must fit an int");
static_assert(EncodedLength(kMaxEncodeLength + 1) > INT_MAX, "bound must be the largest");
static_assert(2ull * kMaxEncodeLength + 3 <= 0xFFFFFFFFull, "buffer must fit 32 bits");

// The longest text whose 3 * length fits in 32 bits.
constexpr unsigned long kMaxDecodeLength = 0xFFFFFFFFul / 3;
// A 32-bit host's -1 arrives as 0xFFFFFFFF; both mean "NUL-terminated".
constexpr unsigned long kTerminated32 = 0xFFFFFFFFul;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kBigEndian = true;
#else
constexpr bool kBigEndian = false;
#endif

// Two alphabet characters for every 12-bit value, in the order in which a
// uint16_t store writes them, so that three bytes become two lookups.
struct CharPairs {
  std::uint16_t pair[4096];
};

constexpr CharPairs MakeCharPairs() {
  CharPairs table{};
  for (int value = 0; value < 4096; ++value) {
    const auto first = static_cast<unsigned char>(kAlphabet[value >> 6]);
    const auto second = static_cast<unsigned char>(kAlphabet[value & 0x3F]);
    table.pair[value] =
        static_cast<std::uint16_t>(kBigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return table;
}

constexpr CharPairs kCharPairs = MakeCharPairs();

// A 24-bit group's three bytes placed as they must lie in a uint32_t for
// one 4-byte store to write them in order.
constexpr std::uint32_t InStoreOrder(std::uint32_t group) {
  return kBigEndian ? group << 8
                    : ((group >> 16) & 0xFF) | (group & 0xFF00) | ((group & 0xFF) << 16);
}

// The fourth byte of that store is free: a character outside the alphabet
// sets a bit there, which the fast path tests once per group.
constexpr std::uint32_t kNotAlphabet = kBigEndian ? 1u : 1u << 24;

struct DecodeTables {
  // For each position in a group of four characters, each character's six
  // bits already in store order, or kNotAlphabet.
  std::uint32_t placed[4][256];
  // Each character's six bits; 0 outside the alphabet.
  unsigned char six_bits[256];
};

constexpr DecodeTables MakeDecodeTables() {
  DecodeTables tables{};
  for (int position = 0; position < 4; ++position) {
    for (int byte = 0; byte < 256; ++byte) tables.placed[position][byte] = kNotAlphabet;
  }
  for (std::uint32_t value = 0; value < 64; ++value) {
    const auto byte = static_cast<unsigned char>(kAlphabet[value]);
    tables.six_bits[byte] = static_cast<unsigned char>(value);
    for (int position = 0; position < 4; ++position) {
      tables.placed[position][byte] = InStoreOrder(value << (18 - 6 * position));
    }
  }
  return tables;
}

constexpr DecodeTables kDecodeTables = MakeDecodeTables();

inline std::uint32_t SixBits(unsigned char c) { return kDecodeTables.six_bits[c]; }

// The white space of the C locale's isspace.
inline bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline char* EncodeGroup(const unsigned char* in, char* out) {
  const std::uint32_t group =
      (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | std::uint32_t{in[2]};
  const std::uint16_t pairs[2] = {kCharPairs.pair[group >> 12], kCharPairs.pair[group & 0xFFF]};
  std::memcpy(out, pairs, 4);
  return out + 4;
}

// Eight bytes as a big-endian number, with one load.
inline std::uint64_t LoadBigEndian64(const unsigned char* in) {
  std::uint64_t value;
  std::memcpy(&value, in, 8);
  if (kBigEndian) return value;
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap64(value);
#else
  value = ((value & 0x00FF00FF00FF00FFull) << 8) | ((value >> 8) & 0x00FF00FF00FF00FFull);
  value = ((value & 0x0000FFFF0000FFFFull) << 16) | ((value >> 16) & 0x0000FFFF0000FFFFull);
  return (value << 32) | (value >> 32);
#endif
}

// Encodes the six bytes at `in` and reads eight: the caller keeps two more
// bytes of input after them.
inline void EncodeSix(const unsigned char* in, char* out) {
  const std::uint64_t bits = LoadBigEndian64(in);
  std::memcpy(out, &kCharPairs.pair[bits >> 52], 2);
  std::memcpy(out + 2, &kCharPairs.pair[(bits >> 40) & 0xFFF], 2);
  std::memcpy(out + 4, &kCharPairs.pair[(bits >> 28) & 0xFFF], 2);
  std::memcpy(out + 6, &kCharPairs.pair[(bits >> 16) & 0xFFF], 2);
}

// Writes the text of `length` bytes and its NUL; returns the end of the text.
char* Encode(const unsigned char* in, std::size_t length, char* out, const VectorKernels* kernels) {
  const unsigned char* const end = in + length;
  if (kernels != nullptr && length >= kLineBytes) {
    const std::size_t lines = length / kLineBytes;
    kernels->encode_lines(in, lines, out);
    in += lines * kLineBytes;
    out += lines * (kLineChars + 2);
  }
  // Whole lines, eight loads of six bytes each, while the last load of a
  // line still ends inside the input.
  while (static_cast<std::size_t>(end - in) >= kLineBytes + 2) {
    for (std::size_t i = 0; i < kLineBytes / 6; ++i) EncodeSix(in + 6 * i, out + 8 * i);
    in += kLineBytes;
    out = EndLine(out + kLineChars);
  }
  if (static_cast<std::size_t>(end - in) >= kLineBytes) {
    for (std::size_t i = 0; i < kLineBytes; i += 3) out = EncodeGroup(in + i, out);
    in += kLineBytes;
    out = EndLine(out);
  }
  std::size_t rest = static_cast<std::size_t>(end - in);
  for (; rest >= 3; rest -= 3, in += 3) out = EncodeGroup(in, out);
  if (rest == 2) {
    const std::uint32_t bits = (std::uint32_t{in[0]} << 8) | in[1];
    out[0] = kAlphabet[bits >> 10];
    out[1] = kAlphabet[(bits >> 4) & 0x3F];
    out[2] = kAlphabet[(bits << 2) & 0x3F];
    out[3] = '=';
    out += 4;
  } else if (rest == 1) {
    out[0] = kAlphabet[in[0] >> 2];
    out[1] = kAlphabet[(in[0] << 4) & 0x3F];
    out[2] = '=';
    out[3] = '=';
    out += 4;
  }
  *out = '\0';
  return out;
}

inline unsigned char* PutGroup(std::uint32_t group, unsigned char* out) {
  out[0] = static_cast<unsigned char>(group >> 16);
  out[1] = static_cast<unsigned char>(group >> 8);
  out[2] = static_cast<unsigned char>(group);
  return out + 3;
}

// Four characters as their three bytes in store order, with kNotAlphabet
// set if any is outside the alphabet. The outer two come out of one 4-byte
// load and the inner two from byte loads, which shares the work between the
// load units and the arithmetic ones.
inline std::uint32_t PlacedGroup(const unsigned char* in) {
  std::uint32_t word;
  std::memcpy(&word, in, 4);
  const std::uint32_t first = kBigEndian ? word >> 24 : word & 0xFF;
  const std::uint32_t last = kBigEndian ? word & 0xFF : word >> 24;
  return kDecodeTables.placed[0][first] | kDecodeTables.placed[1][in[1]] |
         kDecodeTables.placed[2][in[2]] | kDecodeTables.placed[3][last];
}

// Decodes `length` characters into `out`, which holds 3 * length / 4 bytes.
// Returns the number of bytes written, or 0 after a malformed escape.
//
// Why it stays within `out`: every full group consumes at least four
// characters for its three bytes, a final quantum of one or two bytes needs
// three or four characters, and a group cut short by the end of the text
// writes one byte for two characters found and two for three.
std::size_t Decode(const unsigned char* in, std::size_t length, unsigned char* out,
                   const VectorKernels* kernels) {
  unsigned char* const start = out;
  std::size_t pos = 0;
  while (pos < length) {
    // Fast path: a run of groups of four alphabet characters. Between two
    // such groups the general steps below would skip nothing and find no "=".
    // Anything else, padding included, takes the general steps. A vector
    // path takes the run first, as far as its blocks reach; since bytes
    // written never exceed three quarters of the characters read, the
    // margin it keeps to the end of the text is room for its wide stores.
    // Two groups at a time while four more characters follow them, so that
    // the buffer has room for the fourth byte of each 4-byte store (the
    // next group overwrites it).
    const std::size_t run_start = pos;
    if (kernels != nullptr && length - pos >= kDecodeMargin) {
      pos += kernels->decode_clean(in + pos, length - pos, &out);
    }
    while (length - pos >= 12) {
      const std::uint32_t first = PlacedGroup(in + pos);
      const std::uint32_t second = PlacedGroup(in + pos + 4);
      if ((first | second) & kNotAlphabet) break;
      std::memcpy(out, &first, 4);
      std::memcpy(out + 3, &second, 4);
      out += 6;
      pos += 8;
    }
    while (length - pos >= 4) {
      const std::uint32_t group = PlacedGroup(in + pos);
      if (group & kNotAlphabet) break;
      std::memcpy(out, &group, 3);
      out += 3;
      pos += 4;
    }

    if (pos == run_start) {
      // One group with white space skipped before each character.
      std::uint32_t group = 0;
      int found = 0;
      for (; found < 4; ++found) {
        while (pos < length && IsSpace(in[pos])) ++pos;
        if (pos == length) break;
        // "=" in the third or fourth place is padding: the final quantum,
        // after which nothing is read. It is found with white space skipped,
        // like the rest of a group, so that a break or a blank before the
        // last group does not turn into bytes that were never encoded.
        if (found >= 2 && in[pos] == '=') break;
        group = (group << 6) | SixBits(in[pos++]);
      }
      if (found < 4) {
        // Cut short by the end or by padding: keep the whole bytes the
        // characters carry.
        if (found == 2) {
          *out++ = static_cast<unsigned char>(group >> 4);
        } else if (found == 3) {
          out[0] = static_cast<unsigned char>(group >> 10);
          out[1] = static_cast<unsigned char>(group >> 2);
          out += 2;
        }
        break;
      }
      out = PutGroup(group, out);
    }

    pos = SkipLineBreaks(in, pos, length);
    // Text stored with backslash escapes carries its breaks as \n and \r.
    while (pos < length && in[pos] == '\\') {
      if (pos + 1 == length || (in[pos + 1] != 'n' && in[pos + 1] != 'r')) return 0;
      pos += 2;
    }
  }
  return static_cast<std::size_t>(out - start);
}

}  // namespace

int Base64EncodeAlloc(void* data, unsigned long length, char*& text) {
  text = nullptr;
  if ((data == nullptr && length != 0) || length > kMaxEncodeLength) return kFailure;
  char* const buffer = static_cast<char*>(std::malloc(2 * std::size_t{length} + 3));
  if (buffer == nullptr) return kFailure;
  const char* const end = Encode(static_cast<const unsigned char*>(data), length, buffer,
                                 veskar::base64::ActiveKernels());
  text = buffer;
  return static_cast<int>(end - buffer);
}

int Base64DecodeAlloc(char* text, unsigned long length, void*& buffer) {
  buffer = nullptr;
  if (text == nullptr && length != 0) return kFailure;
  if (length == ULONG_MAX || length == kTerminated32) length = std::strlen(text);
  if (length > kMaxDecodeLength) return kFailure;
  // At least one byte, so that a null buffer always means failure.
  const std::size_t size = 3 * std::size_t{length} / 4;
  auto* const bytes = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
  if (bytes == nullptr) return kFailure;
  buffer = bytes;
  return static_cast<int>(Decode(reinterpret_cast<const unsigned char*>(text), length, bytes,
                                 veskar::base64::ActiveKernels()));
}

void Base64Free(void* buffer) { std::free(buffer); }
