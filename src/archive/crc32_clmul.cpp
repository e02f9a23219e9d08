// CRC-32 by folding with carry-less multiplication (PCLMULQDQ), after Intel's
// "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ Instruction".
//
// The data is taken in 128-bit lanes. In ZIP's bit order the first byte holds the
// highest powers of x, so the low half of a lane (bytes 0-7) carries the higher
// terms. A lane A that lies D bits before a lane B contributes A·x^D; it is folded
// into B as A_low_half·(x^(D+64) mod P) + A_high_half·(x^D mod P), which is at
// most 96 bits wide and so fits in B's 128. Eight lanes run side by side over 128
// bytes at a time (D = 1024), are folded into one (D = 128), and the last 16 bytes
// of that lane and the bytes left over go through the tables.
#include "archive/crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace archive {

namespace {

// x^m mod P, bit-reflected as the CRC register holds it (bit 31 - d is the
// coefficient of x^d): multiplying by x moves every bit one place down, and x^32
// wraps round to the polynomial.
constexpr uint32_t XPowModP(unsigned m) {
  uint32_t r = 0x80000000u;  // x^0
  while (m-- > 0) r = (r >> 1) ^ ((r & 1) ? 0xEDB88320u : 0);
  return r;
}

// The multiplier for a 64-bit half whose terms must move up by n bits. The product
// of two reflected operands comes out one bit short of a reflected 128-bit lane
// and 32 degrees low; shifting the constant by one and taking x^(n-32) for x^n
// makes up for both.
constexpr long long Multiplier(unsigned n) { return static_cast<long long>(uint64_t{XPowModP(n - 32)} << 1); }

}  // namespace

#if defined(__x86_64__) || defined(__i386__)

// One fold: the lane's halves times the multipliers in k (low half by k's low
// half, high by high), plus the lane that lies that far on.
#define LU_FOLD(x, k, next) \
  _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next)

[[gnu::target("pclmul,sse2")]] uint32_t Crc32UpdateByClmul(uint32_t crc, const void* data, std::size_t n) {
  constexpr unsigned kLanes = 8;
  if (n < kLanes * 16) return Crc32UpdateByTable(crc, data, n);
  const __m128i* p = static_cast<const __m128i*>(data);

  __m128i x[kLanes];
  for (unsigned i = 0; i < kLanes; ++i) x[i] = _mm_loadu_si128(p + i);
  // The register's initial value (the complement of the CRC so far) joins the
  // first four bytes, where it would enter a bytewise computation.
  x[0] = _mm_xor_si128(x[0], _mm_cvtsi32_si128(static_cast<int>(~crc)));
  p += kLanes;
  n -= kLanes * 16;

  // _mm_set_epi64x takes the high half first.
  const __m128i across = _mm_set_epi64x(Multiplier(kLanes * 128), Multiplier(kLanes * 128 + 64));
  while (n >= kLanes * 16) {
    _mm_prefetch(reinterpret_cast<const char*>(p + 64), _MM_HINT_T0);  // as below
    _mm_prefetch(reinterpret_cast<const char*>(p + 68), _MM_HINT_T0);
    for (unsigned i = 0; i < kLanes; ++i) x[i] = LU_FOLD(x[i], across, _mm_loadu_si128(p + i));
    p += kLanes;
    n -= kLanes * 16;
  }

  const __m128i next = _mm_set_epi64x(Multiplier(128), Multiplier(192));
  __m128i lane = x[0];
  for (unsigned i = 1; i < kLanes; ++i) lane = LU_FOLD(lane, next, x[i]);
  for (; n >= 16; n -= 16) lane = LU_FOLD(lane, next, _mm_loadu_si128(p++));

  // What is left is the CRC register's work on the lane's 16 bytes from a zero
  // register, then on the remaining bytes: a register starting at zero is what
  // the tables' function sets up for a CRC so far of 0xFFFFFFFF.
  uint8_t bytes[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), lane);
  return Crc32UpdateByTable(Crc32UpdateByTable(0xFFFFFFFFu, bytes, sizeof bytes), p, n);
}

// The same on 256-bit registers (VPCLMULQDQ with AVX2), two lanes to a register
// and four registers side by side: 128 bytes a round, half the instructions.
[[gnu::target("avx2,vpclmulqdq,pclmul")]] uint32_t Crc32UpdateByWideClmul(uint32_t crc, const void* data,
                                                                          std::size_t n) {
  constexpr unsigned kRegisters = 4;
  if (n < kRegisters * 32) return Crc32UpdateByTable(crc, data, n);
  const __m256i* p = static_cast<const __m256i*>(data);

  __m256i y[kRegisters];
  for (unsigned i = 0; i < kRegisters; ++i) y[i] = _mm256_loadu_si256(p + i);
  y[0] = _mm256_xor_si256(y[0], _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(~crc)));
  p += kRegisters;
  n -= kRegisters * 32;

  const __m256i across = _mm256_set_epi64x(Multiplier(kRegisters * 256), Multiplier(kRegisters * 256 + 64),
                                           Multiplier(kRegisters * 256), Multiplier(kRegisters * 256 + 64));
  while (n >= kRegisters * 32) {
    // A kilobyte ahead: long inputs come from memory faster than by the hardware's
    // own prefetching alone (a prefetch past the end does no harm).
    _mm_prefetch(reinterpret_cast<const char*>(p + 32), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 34), _MM_HINT_T0);
    for (unsigned i = 0; i < kRegisters; ++i)
      y[i] = _mm256_xor_si256(
          _mm256_xor_si256(_mm256_clmulepi64_epi128(y[i], across, 0x00), _mm256_clmulepi64_epi128(y[i], across, 0x11)),
          _mm256_loadu_si256(p + i));
    p += kRegisters;
    n -= kRegisters * 32;
  }

  // The eight lanes in the order of the data: low then high half of each register.
  const __m128i next = _mm_set_epi64x(Multiplier(128), Multiplier(192));
  __m128i lane = _mm256_castsi256_si128(y[0]);
  lane = LU_FOLD(lane, next, _mm256_extracti128_si256(y[0], 1));
  for (unsigned i = 1; i < kRegisters; ++i) {
    lane = LU_FOLD(lane, next, _mm256_castsi256_si128(y[i]));
    lane = LU_FOLD(lane, next, _mm256_extracti128_si256(y[i], 1));
  }
  const __m128i* q = reinterpret_cast<const __m128i*>(p);
  for (; n >= 16; n -= 16) lane = LU_FOLD(lane, next, _mm_loadu_si128(q++));

  uint8_t bytes[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), lane);
  return Crc32UpdateByTable(Crc32UpdateByTable(0xFFFFFFFFu, bytes, sizeof bytes), q, n);
}

#undef LU_FOLD

#else

uint32_t Crc32UpdateByClmul(uint32_t crc, const void* data, std::size_t n) { return Crc32UpdateByTable(crc, data, n); }
uint32_t Crc32UpdateByWideClmul(uint32_t crc, const void* data, std::size_t n) {
  return Crc32UpdateByTable(crc, data, n);
}

#endif

}  // namespace archive
