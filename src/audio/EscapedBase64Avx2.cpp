// The AVX2 encoder: 24 input bytes become 32 base64 characters in a few vector
// steps, and the solidi among them are escaped without a branch: each group of
// 8 characters is spread out by a shuffle chosen by which of them are '/',
// with a backslash put in front of each.
#include <array>
#include <bit>
#include <cstring>

#include "audio/EscapedBase64.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

namespace mirevo::audio {
namespace {

// For each set of solidus positions in 8 characters: where each output byte
// comes from (0x80 gives zero, a slot for a backslash) and the backslashes.
struct SpreadTable {
  alignas(16) std::array<std::array<std::uint8_t, 16>, 256> shuffle{};
  alignas(16) std::array<std::array<std::uint8_t, 16>, 256> backslash{};
};

constexpr SpreadTable makeSpreadTable() {
  SpreadTable table;
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned at = 0;
    for (unsigned i = 0; i < 8; ++i) {
      if (mask & (1u << i)) {
        table.shuffle[mask][at] = 0x80;
        table.backslash[mask][at++] = '\\';
      }
      table.shuffle[mask][at++] = static_cast<std::uint8_t>(i);
    }
    for (; at < 16; ++at) table.shuffle[mask][at] = 0x80;
  }
  return table;
}

constexpr SpreadTable kSpread = makeSpreadTable();

// Each 32-bit lane takes three input bytes and gets their four 6-bit values,
// one per byte.
__attribute__((target("avx2"))) inline __m256i sixBitValues(const std::uint8_t* data) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 12));
  const __m256i bytes = _mm256_set_m128i(high, low);
  // Per lane: bytes b1 b0 b2 b1, so each 16-bit half holds the bits it needs.
  const __m256i spread = _mm256_shuffle_epi8(
      bytes, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3,
                              5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
  // Shift the four fields into the low six bits of their bytes by multiplying.
  const __m256i a = _mm256_and_si256(spread, _mm256_set1_epi32(0x0fc0fc00));
  const __m256i aShifted = _mm256_mulhi_epu16(a, _mm256_set1_epi32(0x04000040));
  const __m256i b = _mm256_and_si256(spread, _mm256_set1_epi32(0x003f03f0));
  const __m256i bShifted = _mm256_mullo_epi16(b, _mm256_set1_epi32(0x01000010));
  return _mm256_or_si256(aShifted, bShifted);
}

// Maps 6-bit values to the alphabet by adding a per-range offset.
__attribute__((target("avx2"))) inline __m256i toAlphabet(__m256i values) {
  // 0..25 -> 13 ('A'), 26..51 -> 0 ('a' - 26), 52..61 -> 1..10 ('0' - 52),
  // 62 -> 11 ('+' - 62), 63 -> 12 ('/' - 63).
  __m256i index = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
  const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
  index = _mm256_or_si256(index, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
  const __m256i offsets =
      _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                       'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, index));
}

// Writes 8 characters, those at `offset` (0 or 8) in `text`, escaping each
// '/'; `mask` has a bit for each solidus among them.
__attribute__((target("avx2"))) inline char* putEight(__m128i text, unsigned offset, unsigned mask,
                                                      char* out) {
  const __m128i shuffle =
      _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread.shuffle[mask].data()));
  const __m128i backslash =
      _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread.backslash[mask].data()));
  // Adding the offset keeps 0x80 slots at or above 0x80, so still zero.
  const __m128i from = _mm_add_epi8(shuffle, _mm_set1_epi8(static_cast<char>(offset)));
  const __m128i spread = _mm_or_si128(_mm_shuffle_epi8(text, from), backslash);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), spread);
  return out + 8 + std::popcount(mask);
}

__attribute__((target("avx2,popcnt"))) char* encodeVector(const std::uint8_t* data,
                                                          std::size_t size, char* out) {
  const std::uint8_t* const end = data + size;
  // Each step reads 28 bytes (two 16-byte loads, at 0 and 12) and uses 24.
  for (; end - data >= 28; data += 24) {
    const __m256i text = toAlphabet(sixBitValues(data));
    const auto slashes =
        static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(text, _mm256_set1_epi8('/'))));
    const __m128i low = _mm256_castsi256_si128(text);
    const __m128i high = _mm256_extracti128_si256(text, 1);
    out = putEight(low, 0, slashes & 0xff, out);
    out = putEight(low, 8, (slashes >> 8) & 0xff, out);
    out = putEight(high, 0, (slashes >> 16) & 0xff, out);
    out = putEight(high, 8, slashes >> 24, out);
  }
  // The rest, a whole number of 3-byte groups on from here, goes the portable way.
  return encodeEscapedBase64Portable(data, static_cast<std::size_t>(end - data), out);
}

}  // namespace

bool canEncodeWithAvx2() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
}

char* encodeEscapedBase64Avx2(const std::uint8_t* data, std::size_t size, char* out) {
  if (!canEncodeWithAvx2()) return encodeEscapedBase64Portable(data, size, out);
  return encodeVector(data, size, out);
}

}  // namespace mirevo::audio

#else

namespace mirevo::audio {

bool canEncodeWithAvx2() {
  return false;
}

char* encodeEscapedBase64Avx2(const std::uint8_t* data, std::size_t size, char* out) {
  return encodeEscapedBase64Portable(data, size, out);
}

}  // namespace mirevo::audio

#endif
