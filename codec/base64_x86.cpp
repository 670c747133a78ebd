// The x86 vector paths of the Base64 conversions, 16 bytes at a time with
// SSSE3 and 32 with AVX2; the 64-byte AVX-512 VBMI path has a file of its
// own. Each function carries its instruction set in a target attribute, so
// the rest of the library stays built for the baseline CPU, and the kernels
// are handed out only when the CPU reports the instruction set.
//
// Encoding spreads each 3-byte group over a 32-bit word with a byte shuffle,
// moves the four 6-bit fields into the word's four bytes with two
// multiplications, and turns each field into its character by adding an
// offset looked up from the field's range. Decoding classifies every
// character by its two nibbles (a bit set for each high nibble, a mask of
// the bits whose row the low nibble falls outside), adds an offset looked up
// from the high nibble, and packs the 6-bit values with two multiply-adds.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "codec/base64_paths.h"

#define VESKAR_SSSE3 __attribute__((target("ssse3")))
#define VESKAR_AVX2 __attribute__((target("avx2")))

namespace veskar {
namespace base64 {
namespace {

// Per 16 bytes: three input bytes b0 b1 b2 as the word b1 b0 b2 b1, so that
// each 16-bit half holds two whole fields and part of a third.
#define VESKAR_SPREAD_GROUPS 1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10
// The same for the last twelve of sixteen bytes, so that the last block of a
// line reads nothing past the line.
#define VESKAR_SPREAD_LAST_GROUPS 5, 4, 6, 5, 8, 7, 9, 8, 11, 10, 12, 11, 14, 13, 15, 14
// Per 16 bytes: the offset from a field to its character, by the field's
// range as ClassifyFields numbers it: 0..25, 26..51, 52..61 (ten), 62, 63.
#define VESKAR_FIELD_OFFSETS 65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0
// Per 16 bytes: by low nibble, a bit for each high-nibble row in which that
// low nibble is not in the alphabet. Rows: 0x01 for 0x2_ ("+" and "/"),
// 0x02 for 0x3_ (digits), 0x04 for 0x4_ and 0x6_ (letters from 1), 0x08 for
// 0x5_ and 0x7_ (letters up to 0xA), 0x10 for every other high nibble.
#define VESKAR_OUTSIDE_BY_LOW \
  0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A
#define VESKAR_ROW_BY_HIGH \
  0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10
// Per 16 bytes: the offset from a character to its 6-bit value, by high
// nibble; "/" is moved to slot 1 since it shares its nibble with "+".
#define VESKAR_VALUE_OFFSETS 0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0
// Per 16 bytes: the three bytes of each 32-bit word, high byte first.
#define VESKAR_PACK_GROUPS 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1

// The field ranges, numbered for VESKAR_FIELD_OFFSETS: 0 for 0..25, 1 for
// 26..51, and 2 to 13 for 52..63 (the amount above 51, plus one).
VESKAR_SSSE3 inline __m128i ClassifyFields(__m128i fields) {
  const __m128i above51 = _mm_subs_epu8(fields, _mm_set1_epi8(51));
  return _mm_sub_epi8(above51, _mm_cmpgt_epi8(fields, _mm_set1_epi8(25)));
}

VESKAR_AVX2 inline __m256i ClassifyFields(__m256i fields) {
  const __m256i above51 = _mm256_subs_epu8(fields, _mm256_set1_epi8(51));
  return _mm256_sub_epi8(above51, _mm256_cmpgt_epi8(fields, _mm256_set1_epi8(25)));
}

// Twelve of the sixteen bytes at `from`, picked and spread by `order`,
// into sixteen characters.
VESKAR_SSSE3 inline __m128i EncodeBlock16(const unsigned char* from, __m128i order) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  const __m128i spread = _mm_shuffle_epi8(bytes, order);
  // The first and third fields to the bottom of their 16-bit halves, the
  // second and fourth to the top.
  const __m128i odd = _mm_mulhi_epu16(_mm_and_si128(spread, _mm_set1_epi32(0x0FC0FC00)),
                                      _mm_set1_epi32(0x04000040));
  const __m128i even = _mm_mullo_epi16(_mm_and_si128(spread, _mm_set1_epi32(0x003F03F0)),
                                       _mm_set1_epi32(0x01000010));
  const __m128i fields = _mm_or_si128(odd, even);
  const __m128i offsets =
      _mm_shuffle_epi8(_mm_setr_epi8(VESKAR_FIELD_OFFSETS), ClassifyFields(fields));
  return _mm_add_epi8(fields, offsets);
}

// Twelve of the sixteen bytes at `low` and twelve of those at `high`, as
// `order` picks them for each half, into 32 characters.
VESKAR_AVX2 inline __m256i EncodeBlock32(const unsigned char* low, const unsigned char* high,
                                         __m256i order) {
  const __m256i bytes = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
  const __m256i spread = _mm256_shuffle_epi8(bytes, order);
  const __m256i odd = _mm256_mulhi_epu16(_mm256_and_si256(spread, _mm256_set1_epi32(0x0FC0FC00)),
                                         _mm256_set1_epi32(0x04000040));
  const __m256i even = _mm256_mullo_epi16(_mm256_and_si256(spread, _mm256_set1_epi32(0x003F03F0)),
                                          _mm256_set1_epi32(0x01000010));
  const __m256i fields = _mm256_or_si256(odd, even);
  const __m256i offsets = _mm256_shuffle_epi8(
      _mm256_setr_epi8(VESKAR_FIELD_OFFSETS, VESKAR_FIELD_OFFSETS), ClassifyFields(fields));
  return _mm256_add_epi8(fields, offsets);
}

VESKAR_SSSE3 void EncodeLinesSsse3(const unsigned char* in, std::size_t lines, char* out) {
  const __m128i order = _mm_setr_epi8(VESKAR_SPREAD_GROUPS);
  const __m128i last_order = _mm_setr_epi8(VESKAR_SPREAD_LAST_GROUPS);
  for (; lines != 0; --lines, in += kLineBytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), EncodeBlock16(in, order));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), EncodeBlock16(in + 12, order));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), EncodeBlock16(in + 24, order));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), EncodeBlock16(in + 32, last_order));
    out = EndLine(out + kLineChars);
  }
}

VESKAR_AVX2 void EncodeLinesAvx2(const unsigned char* in, std::size_t lines, char* out) {
  const __m256i order = _mm256_setr_epi8(VESKAR_SPREAD_GROUPS, VESKAR_SPREAD_GROUPS);
  const __m256i last_order = _mm256_setr_epi8(VESKAR_SPREAD_GROUPS, VESKAR_SPREAD_LAST_GROUPS);
  for (; lines != 0; --lines, in += kLineBytes) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), EncodeBlock32(in, in + 12, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                        EncodeBlock32(in + 24, in + 32, last_order));
    out = EndLine(out + kLineChars);
  }
}

// Sixteen characters at `in` into twelve bytes at `out`, which has room for
// sixteen; false, with nothing written, if any of them is outside the
// alphabet.
VESKAR_SSSE3 inline bool DecodeBlock16(const unsigned char* in, unsigned char* out) {
  const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i high = _mm_and_si128(_mm_srli_epi32(chars, 4), _mm_set1_epi8(0x0F));
  const __m128i low = _mm_and_si128(chars, _mm_set1_epi8(0x0F));
  const __m128i outside = _mm_and_si128(_mm_shuffle_epi8(_mm_setr_epi8(VESKAR_OUTSIDE_BY_LOW), low),
                                        _mm_shuffle_epi8(_mm_setr_epi8(VESKAR_ROW_BY_HIGH), high));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(outside, _mm_setzero_si128())) != 0xFFFF) return false;
  const __m128i slot = _mm_add_epi8(high, _mm_cmpeq_epi8(chars, _mm_set1_epi8('/')));
  const __m128i values =
      _mm_add_epi8(chars, _mm_shuffle_epi8(_mm_setr_epi8(VESKAR_VALUE_OFFSETS), slot));
  // Pairs of 6-bit values into 12 bits, pairs of those into 24.
  const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
  const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_shuffle_epi8(groups, _mm_setr_epi8(VESKAR_PACK_GROUPS)));
  return true;
}

// Thirty-two characters into 24 bytes, with room for 32.
VESKAR_AVX2 inline bool DecodeBlock32(const unsigned char* in, unsigned char* out) {
  const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), _mm256_set1_epi8(0x0F));
  const __m256i low = _mm256_and_si256(chars, _mm256_set1_epi8(0x0F));
  const __m256i outside = _mm256_and_si256(
      _mm256_shuffle_epi8(_mm256_setr_epi8(VESKAR_OUTSIDE_BY_LOW, VESKAR_OUTSIDE_BY_LOW), low),
      _mm256_shuffle_epi8(_mm256_setr_epi8(VESKAR_ROW_BY_HIGH, VESKAR_ROW_BY_HIGH), high));
  if (!_mm256_testz_si256(outside, outside)) return false;
  const __m256i slot = _mm256_add_epi8(high, _mm256_cmpeq_epi8(chars, _mm256_set1_epi8('/')));
  const __m256i values = _mm256_add_epi8(
      chars,
      _mm256_shuffle_epi8(_mm256_setr_epi8(VESKAR_VALUE_OFFSETS, VESKAR_VALUE_OFFSETS), slot));
  const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
  const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
  const __m256i packed =
      _mm256_shuffle_epi8(groups, _mm256_setr_epi8(VESKAR_PACK_GROUPS, VESKAR_PACK_GROUPS));
  // Each lane's twelve bytes side by side.
  _mm256_storeu_si256(
      reinterpret_cast<__m256i*>(out),
      _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7)));
  return true;
}

// The decoding loop of either width, flattened into each kernel. A text
// whose first line has the encoder's width and ends with one or two line
// breaks goes line by line while each line ends with the same run: its
// blocks straight through, then the run checked with one 16-bit compare.
// After that, or for any other text (unbroken text is fastest so), block by
// block: between two clean blocks it steps over a run of line feeds and
// carriage returns, which the scalar code would skip after the group before
// them; if the block after the run is not clean, the scalar code gets the
// run back.
template <std::size_t kChars, bool (*kDecodeBlock)(const unsigned char*, unsigned char*)>
inline std::size_t DecodeClean(const unsigned char* in, std::size_t length, unsigned char** out) {
  std::size_t after_group = 0;
  std::size_t next = 0;
  unsigned char* at = *out;
  // Room for a line, its run and the last block's whole store.
  constexpr std::size_t kLineMargin = kLineChars + kDecodeMargin;
  if (length >= kLineMargin) {
    const std::size_t run = SkipLineBreaks(in, kLineChars, length) - kLineChars;
    const std::uint16_t run_mask = run == 1 ? 0x00FF : 0xFFFF;
    const std::uint16_t run_bytes = LoadTwo(in + kLineChars) & run_mask;
    while (run - 1 < 2 && length - next >= kLineMargin &&
           ((LoadTwo(in + next + kLineChars) ^ run_bytes) & run_mask) == 0) {
      std::size_t block = 0;
      while (block < kLineChars && kDecodeBlock(in + next + block, at)) {
        at += kChars / 4 * 3;
        block += kChars;
      }
      if (block != 0) after_group = next + block;
      if (block != kLineChars) {
        next += block;
        break;
      }
      next += kLineChars + run;
    }
  }
  while (length - next >= kDecodeMargin) {
    if (kDecodeBlock(in + next, at)) {
      at += kChars / 4 * 3;
      after_group = next += kChars;
      continue;
    }
    if (after_group == 0 || next != after_group) break;
    next = SkipLineBreaks(in, next, length);
    if (next == after_group) break;
  }
  *out = at;
  return after_group;
}

VESKAR_SSSE3 __attribute__((flatten)) std::size_t DecodeCleanSsse3(const unsigned char* in,
                                                                   std::size_t length,
                                                                   unsigned char** out) {
  return DecodeClean<16, DecodeBlock16>(in, length, out);
}

VESKAR_AVX2 __attribute__((flatten)) std::size_t DecodeCleanAvx2(const unsigned char* in,
                                                                 std::size_t length,
                                                                 unsigned char** out) {
  return DecodeClean<32, DecodeBlock32>(in, length, out);
}

constexpr VectorKernels kSsse3Kernels = {EncodeLinesSsse3, DecodeCleanSsse3};
constexpr VectorKernels kAvx2Kernels = {EncodeLinesAvx2, DecodeCleanAvx2};

}  // namespace

const VectorKernels* FindVectorKernels(Path path) {
  __builtin_cpu_init();
  switch (path) {
    case Path::kSsse3:
      return __builtin_cpu_supports("ssse3") ? &kSsse3Kernels : nullptr;
    case Path::kAvx2:
      return __builtin_cpu_supports("avx2") ? &kAvx2Kernels : nullptr;
    case Path::kAvx512Vbmi: {
#if VESKAR_BASE64_AVX512VBMI
      return FindAvx512VbmiKernels();
#else
      return nullptr;
#endif
    }
    case Path::kScalar:
      break;
  }
  return nullptr;
}

}  // namespace base64
}  // namespace veskar
