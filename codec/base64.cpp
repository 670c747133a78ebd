// The exported Base64 conversions. Each is one pass over its input into one
// buffer sized from the input length alone; the tables below are built at
// compile time so that the passes do a lookup per six bits or fewer.

#include <veskar/base64.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kFailure = -1;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encoder geometry: a line holds 16 groups of 3 bytes and ends in LF CR.
constexpr std::size_t kLineBytes = 48;
constexpr std::size_t kLineChars = 64;

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

// Two alphabet characters for every 12-bit value, so that three bytes
// become two lookups.
struct CharPairs {
  char pair[4096][2];
};

constexpr CharPairs MakeCharPairs() {
  CharPairs table{};
  for (int value = 0; value < 4096; ++value) {
    table.pair[value][0] = kAlphabet[value >> 6];
    table.pair[value][1] = kAlphabet[value & 0x3F];
  }
  return table;
}

constexpr CharPairs kCharPairs = MakeCharPairs();

// For each position in a group of four characters, every byte's six bits
// already shifted into place in the 24-bit group value. A byte outside the
// alphabet carries kNotAlphabet instead, which the fast path tests for once
// per group; its low bits are zero, so it still decodes as zero bits.
constexpr std::uint32_t kNotAlphabet = 1u << 24;

struct GroupTables {
  std::uint32_t shifted[4][256];
};

constexpr GroupTables MakeGroupTables() {
  GroupTables tables{};
  for (int position = 0; position < 4; ++position) {
    for (int byte = 0; byte < 256; ++byte) tables.shifted[position][byte] = kNotAlphabet;
    for (std::uint32_t value = 0; value < 64; ++value) {
      const auto byte = static_cast<unsigned char>(kAlphabet[value]);
      tables.shifted[position][byte] = value << (18 - 6 * position);
    }
  }
  return tables;
}

constexpr GroupTables kGroupTables = MakeGroupTables();

// The six bits of one character: its alphabet value, or 0 outside it.
inline std::uint32_t SixBits(unsigned char c) { return kGroupTables.shifted[3][c] & 0x3F; }

// The white space of the C locale's isspace.
inline bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline char* EncodeGroup(const unsigned char* in, char* out) {
  const std::uint32_t group =
      (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | std::uint32_t{in[2]};
  std::memcpy(out, kCharPairs.pair[group >> 12], 2);
  std::memcpy(out + 2, kCharPairs.pair[group & 0xFFF], 2);
  return out + 4;
}

// Writes the text of `length` bytes and its NUL; returns the end of the text.
char* Encode(const unsigned char* in, std::size_t length, char* out) {
  const unsigned char* const line_end = in + length / kLineBytes * kLineBytes;
  while (in != line_end) {
    for (std::size_t i = 0; i < kLineBytes; i += 3) out = EncodeGroup(in + i, out);
    in += kLineBytes;
    out[0] = '\n';
    out[1] = '\r';
    out += 2;
  }
  std::size_t rest = length % kLineBytes;
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

inline std::uint32_t ShiftedGroup(const unsigned char* in) {
  return kGroupTables.shifted[0][in[0]] | kGroupTables.shifted[1][in[1]] |
         kGroupTables.shifted[2][in[2]] | kGroupTables.shifted[3][in[3]];
}

// Decodes `length` characters into `out`, which holds 3 * length / 4 bytes.
// Returns the number of bytes written, or 0 after a malformed escape.
//
// Why it stays within `out`: every full group consumes at least four
// characters for its three bytes, a final quantum of one or two bytes needs
// three or four characters, and a group cut short by the end of the text
// writes one byte for two characters found and two for three.
std::size_t Decode(const unsigned char* in, std::size_t length, unsigned char* out) {
  unsigned char* const start = out;
  std::size_t pos = 0;
  while (pos < length) {
    // A final quantum is recognised by its "=" at exactly these offsets,
    // with no white space skipped.
    const std::size_t left = length - pos;
    if (left > 2 && in[pos + 2] == '=') {
      *out++ = static_cast<unsigned char>((SixBits(in[pos]) << 2) | (SixBits(in[pos + 1]) >> 4));
      break;
    }
    if (left > 3 && in[pos + 3] == '=') {
      const std::uint32_t bits =
          (SixBits(in[pos]) << 12) | (SixBits(in[pos + 1]) << 6) | SixBits(in[pos + 2]);
      out[0] = static_cast<unsigned char>(bits >> 10);
      out[1] = static_cast<unsigned char>(bits >> 2);
      out += 2;
      break;
    }

    // Fast path: a run of groups of four alphabet characters. Between two
    // such groups the general steps below would skip nothing and find no "=".
    const std::size_t run_start = pos;
    while (length - pos >= 4) {
      const std::uint32_t group = ShiftedGroup(in + pos);
      if (group & kNotAlphabet) break;
      out = PutGroup(group, out);
      pos += 4;
    }

    if (pos == run_start) {
      // One group with white space skipped before each character.
      std::uint32_t group = 0;
      int found = 0;
      for (; found < 4; ++found) {
        while (pos < length && IsSpace(in[pos])) ++pos;
        if (pos == length) break;
        group = (group << 6) | SixBits(in[pos++]);
      }
      if (found < 4) {
        // Cut short by the end: keep the whole bytes the characters carry.
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

    while (pos < length && (in[pos] == '\n' || in[pos] == '\r')) ++pos;
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
  const char* const end = Encode(static_cast<const unsigned char*>(data), length, buffer);
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
  return static_cast<int>(Decode(reinterpret_cast<const unsigned char*>(text), length, bytes));
}

void Base64Free(void* buffer) { std::free(buffer); }
