// The AVX-512 VBMI path of the Base64 conversions, 64 characters at a time.
// It is handed out only when the CPU reports the instruction set and the OS
// saves the 512-bit and mask registers.
//
// A line of 48 bytes is one register: a byte permutation spreads the
// groups, a multishift moves every 6-bit field into a byte of its own, and a
// second permutation, which reads only the low six bits of each index, looks
// the fields up in the alphabet. Decoding looks each character up in a
// 128-byte table with a two-register permutation (a character from 0x80 up,
// or one the table marks with its top bit, is not in the alphabet), packs
// the values with two multiply-adds and gathers the 48 bytes with one more
// permutation.

#include <cstddef>
#include <cstdint>
#if !VESKAR_EMULATE_AVX512VBMI
#include <cpuid.h>
#endif

#include "codec/avx512_vbmi.h"
#include "codec/base64_paths.h"

namespace veskar {
namespace base64 {
namespace {

using v512::Vector;

struct Bytes64 {
  unsigned char byte[64];
};

// Byte 4g..4g+3 of the spread line: group g's bytes b0 b1 b2 as b1 b0 b2 b1.
constexpr Bytes64 MakeSpreadLine() {
  Bytes64 order{};
  for (int group = 0; group < 16; ++group) {
    const int from = 3 * group;
    const int at = 4 * group;
    order.byte[at] = static_cast<unsigned char>(from + 1);
    order.byte[at + 1] = static_cast<unsigned char>(from);
    order.byte[at + 2] = static_cast<unsigned char>(from + 2);
    order.byte[at + 3] = static_cast<unsigned char>(from + 1);
  }
  return order;
}

// Bytes 3g..3g+2 of the output: the top three bytes, high first, of the
// 24-bit value in word g.
constexpr Bytes64 MakePackLine() {
  Bytes64 order{};
  for (int at = 0; at < 48; ++at) {
    order.byte[at] = static_cast<unsigned char>(4 * (at / 3) + 2 - at % 3);
  }
  return order;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kNotInAlphabet = 0x80;

struct ValueTable {
  unsigned char value[128];
};

// Each character's 6-bit value, or kNotInAlphabet.
constexpr ValueTable MakeValueTable() {
  ValueTable table{};
  for (unsigned char& value : table.value) value = kNotInAlphabet;
  for (int value = 0; value < 64; ++value) {
    table.value[static_cast<unsigned char>(kAlphabet[value])] = static_cast<unsigned char>(value);
  }
  return table;
}

alignas(64) constexpr Bytes64 kSpreadLine = MakeSpreadLine();
alignas(64) constexpr Bytes64 kPackLine = MakePackLine();
alignas(64) constexpr ValueTable kValues = MakeValueTable();

// In each 64-bit word, which holds two spread groups, the bit offsets of the
// eight fields in output order: in b1 b0 b2 b1 the 16 bits b0 b1 carry the
// first two fields at 10 and 4, the 16 bits b1 b2 the last two at 6 and 0.
constexpr std::int64_t kFieldShifts = 0x3036242A1016040All;

// The low 48 bytes of `bytes` into 64 characters at `out`,
// then the line break.
VESKAR_AVX512VBMI inline void EncodeLine(Vector bytes, char* out) {
  const Vector spread = v512::Permute(v512::Load(kSpreadLine.byte), bytes);
  const Vector fields = v512::MultiShift(v512::Broadcast64(kFieldShifts), spread);
  v512::Store(out, v512::Permute(fields, v512::Load(kAlphabet)));
  EndLine(out + kLineChars);
}

VESKAR_AVX512VBMI void EncodeLines(const unsigned char* in, std::size_t lines, char* out) {
  // Every line but the last loads 16 bytes of the next with its own.
  for (; lines > 1; --lines, in += kLineBytes, out += kLineChars + 2) {
    EncodeLine(v512::Load(in), out);
  }
  EncodeLine(v512::LoadFirst(in, kLineBytes), out);
}

// 64 6-bit values packed into the low 48 bytes.
VESKAR_AVX512VBMI inline Vector PackValues(Vector values) {
  const Vector pairs = v512::MultiplyAddBytes(values, v512::Broadcast32(0x01400140));
  const Vector groups = v512::MultiplyAddWords(pairs, v512::Broadcast32(0x00011000));
  return v512::Permute(v512::Load(kPackLine.byte), groups);
}

// Each character's value, with the top bit set for one outside the
// alphabet: the table marks those below 0x80, the character itself the rest.
VESKAR_AVX512VBMI inline Vector LookUpValues(Vector chars, Vector low_values, Vector high_values) {
  return v512::Permute2(low_values, chars, high_values);
}

// Where a decoding loop stands: the next character to read, the position
// just after the last group decoded, and where the next byte goes.
struct Progress {
  std::size_t next;
  std::size_t after_group;
  unsigned char* at;
};

// 280 characters leave room for four lines with two line breaks each and for
// the last line's whole register of output, 144 bytes after the first.
constexpr std::size_t kLinesMargin = 280;

// Lines of 64 characters, four at a time while all four are clean and each
// of the first three ends with the same run of line breaks as the line
// before them: none (unbroken text), one, or two (LF CR, CR LF). Returns
// where it stopped, having changed nothing there: text wrapped at another
// width, a longer run, or anything else irregular goes to the single-block
// code. A function of its own, so that the compiler keeps its registers for
// this loop alone.
VESKAR_AVX512VBMI __attribute__((noinline)) Progress DecodeLines(const unsigned char* in,
                                                                 std::size_t length,
                                                                 Progress progress) {
  std::size_t next = progress.next;
  const std::size_t run = SkipLineBreaks(in, next + 64, length) - (next + 64);
  if (run > 2) return progress;
  const std::size_t stride = 64 + run;
  // The run's bytes, and the mask that keeps them, in a 16-bit load.
  const std::uint16_t run_mask = run == 0 ? 0 : run == 1 ? 0x00FF : 0xFFFF;
  const std::uint16_t run_bytes = LoadTwo(in + next + 64) & run_mask;
  const Vector low_values = v512::Load(kValues.value);
  const Vector high_values = v512::Load(kValues.value + 64);
  unsigned char* at = progress.at;
  while (length - next >= kLinesMargin) {
    const unsigned char* const line = in + next;
    const unsigned runs_differ =
        ((LoadTwo(line + 64) ^ run_bytes) | (LoadTwo(line + stride + 64) ^ run_bytes) |
         (LoadTwo(line + 2 * stride + 64) ^ run_bytes)) &
        run_mask;
    if (runs_differ != 0) break;
    const Vector chars0 = v512::Load(line);
    const Vector chars1 = v512::Load(line + stride);
    const Vector chars2 = v512::Load(line + 2 * stride);
    const Vector chars3 = v512::Load(line + 3 * stride);
    const Vector values0 = LookUpValues(chars0, low_values, high_values);
    const Vector values1 = LookUpValues(chars1, low_values, high_values);
    const Vector values2 = LookUpValues(chars2, low_values, high_values);
    const Vector values3 = LookUpValues(chars3, low_values, high_values);
    const Vector marks = v512::Or(v512::Or(v512::Or(chars0, values0), v512::Or(chars1, values1)),
                                  v512::Or(v512::Or(chars2, values2), v512::Or(chars3, values3)));
    if (v512::TopBits(marks) != 0) break;
    v512::Store(at, PackValues(values0));
    v512::Store(at + 48, PackValues(values1));
    v512::Store(at + 96, PackValues(values2));
    v512::Store(at + 144, PackValues(values3));
    at += 192;
    progress.after_group = next + 3 * stride + 64;
    next = SkipLineBreaks(in, progress.after_group, length);
  }
  progress.next = next;
  progress.at = at;
  return progress;
}

// Runs of whole lines while they are clean; else one block, or at the end
// of the run the clean groups of the block that ends it, so that the scalar
// code starts at the irregular character itself. A run of line breaks after a
// group is stepped over when clean groups follow it; otherwise the scalar
// code gets it back.
VESKAR_AVX512VBMI std::size_t DecodeClean(const unsigned char* in, std::size_t length,
                                          unsigned char** out) {
  const Vector low_values = v512::Load(kValues.value);
  const Vector high_values = v512::Load(kValues.value + 64);
  Progress progress = {0, 0, *out};
  // Where whole lines may next be tried: after they stop at once, not until
  // the single blocks are past the four lines they looked at, so that text
  // wrapped at another width (76 for MIME) does not pay for them per line.
  std::size_t lines_from = 0;
  for (;;) {
    if (progress.next >= lines_from && length - progress.next >= kLinesMargin) {
      const std::size_t before = progress.next;
      progress = DecodeLines(in, length, progress);
      if (progress.next == before) lines_from = before + 4 * 64;
    }
    // The end of a text, shorter than a block, loads masked, and what is past
    // the end reads as NUL, which is irregular. The last few groups are the
    // scalar code's: for them a masked block costs more in latency than it
    // saves.
    const std::size_t next = progress.next;
    const std::size_t left = length - next;
    if (left < 16) break;
    const Vector chars = left >= 64 ? v512::Load(in + next)
                                    : v512::LoadFirst(in + next, static_cast<unsigned>(left));
    const Vector values = LookUpValues(chars, low_values, high_values);
    const std::uint64_t irregular = v512::TopBits(v512::Or(chars, values));
    if (irregular == 0) {
      // A masked store: an overlapping whole register here makes short texts,
      // whose last groups the scalar code writes next, slower.
      v512::StoreFirst(progress.at, PackValues(values), 48);
      progress.at += 48;
      progress.after_group = next + 64;
    } else {
      const unsigned clean = static_cast<unsigned>(__builtin_ctzll(irregular)) & ~3u;
      if (clean == 0) break;
      v512::StoreFirst(progress.at, PackValues(values), clean / 4 * 3);
      progress.at += clean / 4 * 3;
      progress.after_group = next + clean;
    }
    progress.next = SkipLineBreaks(in, progress.after_group, length);
    if (irregular != 0 && progress.next == progress.after_group) break;
  }
  *out = progress.at;
  return progress.after_group;
}

constexpr VectorKernels kKernels = {EncodeLines, DecodeClean};

#if !VESKAR_EMULATE_AVX512VBMI
// AVX-512 F, BW and VBMI, with the OS saving the SSE, AVX, mask and both
// halves of the 512-bit register state (XCR0 bits 1, 2, 5, 6 and 7).
bool CpuRunsAvx512Vbmi() {
  constexpr unsigned kOsXsave = 1u << 27;    // leaf 1, ecx
  constexpr unsigned kAvx512F = 1u << 16;    // leaf 7, ebx
  constexpr unsigned kAvx512Bw = 1u << 30;   // leaf 7, ebx
  constexpr unsigned kAvx512Vbmi = 1u << 1;  // leaf 7, ecx
  constexpr unsigned kZmmState = 0x2 | 0x4 | 0xE0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(1, eax, ebx, ecx, edx);
  if ((ecx & kOsXsave) == 0) return false;
  unsigned xcr0 = 0, xcr0_high = 0;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
  if ((xcr0 & kZmmState) != kZmmState) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & kAvx512F) != 0 && (ebx & kAvx512Bw) != 0 && (ecx & kAvx512Vbmi) != 0;
}
#endif

}  // namespace

const VectorKernels* FindAvx512VbmiKernels() {
#if VESKAR_EMULATE_AVX512VBMI
  // The emulation runs anywhere.
  return &kKernels;
#else
  static const bool runs = CpuRunsAvx512Vbmi();
  return runs ? &kKernels : nullptr;
#endif
}

}  // namespace base64
}  // namespace veskar
