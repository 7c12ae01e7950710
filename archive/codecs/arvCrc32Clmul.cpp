// The carry-less-multiplication CRC-32: four 128-bit accumulators fold the input 64 bytes at a
// time, are folded into one, and that one's 16 bytes (with the last bytes of the input) finish in
// the table loop, whose register they leave exactly where the byte-by-byte loop would have.
#include "archive/codecs/arvCrc32Clmul.h"

#include "archive/codecs/arvCrcTables.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#define PARCELO_CLMUL __attribute__((target("pclmul,sse2")))

namespace {

// Folding a 128-bit accumulator over a distance of T bits multiplies its low half by x^(T+32)
// and its high half by x^(T-32), both mod P, bit-reflected and shifted left by one (33 bits).
constexpr long long kFold512Low = 0x154442bd4;   // x^(512+32) mod P
constexpr long long kFold512High = 0x1c6e41596;  // x^(512-32) mod P
constexpr long long kFold128Low = 0x1751997d0;   // x^(128+32) mod P
constexpr long long kFold128High = 0x0ccaa009e;  // x^(128-32) mod P

PARCELO_CLMUL inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The accumulator moved `distance` further on (by the constants), plus the data found there.
PARCELO_CLMUL inline __m128i Fold(__m128i x, __m128i constants, __m128i data) {
  const __m128i low = _mm_clmulepi64_si128(x, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

}  // namespace

bool Crc32ClmulAvailable() {
  static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  return available;
}

PARCELO_CLMUL uint32_t Crc32FoldClmul(uint32_t crc, const uint8_t* bytes, size_t count) {
  if (count < 64) {
    for (size_t i = 0; i < count; ++i) crc = Crc32Step(crc, bytes[i]);
    return crc;
  }
  const __m128i fold512 = _mm_set_epi64x(kFold512High, kFold512Low);
  const __m128i fold128 = _mm_set_epi64x(kFold128High, kFold128Low);
  // The running register enters as if xor-ed into the first four bytes.
  __m128i x0 = _mm_xor_si128(Load(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load(bytes + 16);
  __m128i x2 = Load(bytes + 32);
  __m128i x3 = Load(bytes + 48);
  bytes += 64;
  count -= 64;
  // Four independent chains, so the multiplications overlap.
  while (count >= 64) {
    x0 = Fold(x0, fold512, Load(bytes));
    x1 = Fold(x1, fold512, Load(bytes + 16));
    x2 = Fold(x2, fold512, Load(bytes + 32));
    x3 = Fold(x3, fold512, Load(bytes + 48));
    bytes += 64;
    count -= 64;
  }
  x0 = Fold(x0, fold128, x1);
  x0 = Fold(x0, fold128, x2);
  x0 = Fold(x0, fold128, x3);
  while (count >= 16) {
    x0 = Fold(x0, fold128, Load(bytes));
    bytes += 16;
    count -= 16;
  }
  // The accumulator is congruent to everything folded so far: its 16 bytes, run through the table
  // from a zero register, give the register the byte loop would hold here.
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), x0);
  uint32_t result = 0;
  for (uint8_t b : folded) result = Crc32Step(result, b);
  for (size_t i = 0; i < count; ++i) result = Crc32Step(result, bytes[i]);
  return result;
}

#else

bool Crc32ClmulAvailable() {
  return false;
}

uint32_t Crc32FoldClmul(uint32_t crc, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) crc = Crc32Step(crc, bytes[i]);
  return crc;
}

#endif
