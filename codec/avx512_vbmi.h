#ifndef VESKAR_CODEC_AVX512_VBMI_H_
#define VESKAR_CODEC_AVX512_VBMI_H_

// The AVX-512 VBMI operations the Base64 kernels use, under names of their
// own. Built natively they are the intrinsics, in functions that carry the
// instruction set as a target attribute. Built with
// VESKAR_EMULATE_AVX512VBMI, so that the tests of a machine without
// AVX-512 still run the kernels, they are SIMDe's portable versions; the
// masked loads and stores there touch only the bytes their mask selects, as
// the instructions do.

#include <cstdint>

#if VESKAR_EMULATE_AVX512VBMI
#include <simde/x86/avx512.h>

#include <cstring>
#define VESKAR_AVX512VBMI
#define VESKAR_V512(name) simde_##name
#else
#include <immintrin.h>
#define VESKAR_AVX512VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#define VESKAR_V512(name) _##name
#endif

namespace veskar {
namespace base64 {
namespace v512 {

#if VESKAR_EMULATE_AVX512VBMI
using Vector = simde__m512i;
using Mask = simde__mmask64;
#else
using Vector = __m512i;
using Mask = __mmask64;
#endif

constexpr Mask LowBytes(unsigned count) { return count >= 64 ? ~Mask{0} : (Mask{1} << count) - 1; }

VESKAR_AVX512VBMI inline Vector Load(const void* from) {
  return VESKAR_V512(mm512_loadu_si512)(from);
}

VESKAR_AVX512VBMI inline void Store(void* to, Vector bytes) {
  VESKAR_V512(mm512_storeu_si512)(to, bytes);
}

#if VESKAR_EMULATE_AVX512VBMI
// The first `count` bytes at `from`, the rest zero.
inline Vector LoadFirst(const void* from, unsigned count) {
  unsigned char bytes[64] = {};
  std::memcpy(bytes, from, count < 64 ? count : 64);
  return Load(bytes);
}

// The first `count` bytes of `bytes` to `to`.
inline void StoreFirst(void* to, Vector bytes, unsigned count) {
  unsigned char all[64];
  Store(all, bytes);
  std::memcpy(to, all, count < 64 ? count : 64);
}
#else
VESKAR_AVX512VBMI inline Vector LoadFirst(const void* from, unsigned count) {
  return _mm512_maskz_loadu_epi8(LowBytes(count), from);
}

VESKAR_AVX512VBMI inline void StoreFirst(void* to, Vector bytes, unsigned count) {
  _mm512_mask_storeu_epi8(to, LowBytes(count), bytes);
}
#endif

VESKAR_AVX512VBMI inline Vector Broadcast32(std::int32_t word) {
  return VESKAR_V512(mm512_set1_epi32)(word);
}

VESKAR_AVX512VBMI inline Vector Broadcast64(std::int64_t word) {
  return VESKAR_V512(mm512_set1_epi64)(word);
}

// Byte i of the result is byte index[i] % 64 of `table`. Under an all-ones
// mask, as is MultiShift: the unmasked intrinsics start from an undefined
// register, which GCC 12 warns of as uninitialised once they are inlined.
VESKAR_AVX512VBMI inline Vector Permute(Vector index, Vector table) {
  return VESKAR_V512(mm512_maskz_permutexvar_epi8)(~Mask{0}, index, table);
}

// Byte i of the result is byte index[i] % 128 of `low` followed by `high`.
VESKAR_AVX512VBMI inline Vector Permute2(Vector low, Vector index, Vector high) {
  return VESKAR_V512(mm512_permutex2var_epi8)(low, index, high);
}

// Byte i of the result is the eight bits of the 64-bit word holding it that
// start at bit shifts[i] % 64, wrapping round.
VESKAR_AVX512VBMI inline Vector MultiShift(Vector shifts, Vector words) {
  return VESKAR_V512(mm512_maskz_multishift_epi64_epi8)(~Mask{0}, shifts, words);
}

// Unsigned bytes of `bytes` times signed bytes of `factors`, added in pairs
// to 16-bit words.
VESKAR_AVX512VBMI inline Vector MultiplyAddBytes(Vector bytes, Vector factors) {
  return VESKAR_V512(mm512_maddubs_epi16)(bytes, factors);
}

// 16-bit words times 16-bit factors, added in pairs to 32-bit words.
VESKAR_AVX512VBMI inline Vector MultiplyAddWords(Vector words, Vector factors) {
  return VESKAR_V512(mm512_madd_epi16)(words, factors);
}

VESKAR_AVX512VBMI inline Vector Or(Vector a, Vector b) { return VESKAR_V512(mm512_or_si512)(a, b); }

// Bit i is the top bit of byte i.
VESKAR_AVX512VBMI inline std::uint64_t TopBits(Vector bytes) {
  return VESKAR_V512(mm512_movepi8_mask)(bytes);
}

}  // namespace v512
}  // namespace base64
}  // namespace veskar

#endif  // VESKAR_CODEC_AVX512_VBMI_H_
