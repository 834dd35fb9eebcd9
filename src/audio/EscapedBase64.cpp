#include "audio/EscapedBase64.hpp"

#include <array>
#include <cstring>

namespace mirevo::audio {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// One entry per 12-bit value: its two characters, each '/' already escaped,
// so 2 to 4 bytes of text, and how many of them are used.
struct PairTable {
  std::array<std::array<char, 4>, 4096> text{};
  std::array<std::uint8_t, 4096> length{};
};

constexpr PairTable makePairTable() {
  PairTable table;
  for (std::size_t value = 0; value < 4096; ++value) {
    std::size_t used = 0;
    for (const char c : {kAlphabet[value >> 6], kAlphabet[value & 63]}) {
      if (c == '/') table.text[value][used++] = '\\';
      table.text[value][used++] = c;
    }
    table.length[value] = static_cast<std::uint8_t>(used);
  }
  return table;
}

constexpr PairTable kPairs = makePairTable();

inline char* putPair(unsigned value, char* out) {
  // Always four bytes: the unused tail is overwritten by what follows.
  std::memcpy(out, kPairs.text[value].data(), 4);
  return out + kPairs.length[value];
}

inline char* putChar(char c, char* out) {
  if (c == '/') *out++ = '\\';
  *out++ = c;
  return out;
}

}  // namespace

char* encodeEscapedBase64Portable(const std::uint8_t* data, std::size_t size, char* out) {
  const std::uint8_t* const end = data + size;
  for (; end - data >= 3; data += 3) {
    const unsigned group = (unsigned{data[0]} << 16) | (unsigned{data[1]} << 8) | data[2];
    out = putPair(group >> 12, out);
    out = putPair(group & 0xfff, out);
  }
  const std::size_t tail = static_cast<std::size_t>(end - data);
  if (tail == 0) return out;
  const unsigned group = (unsigned{data[0]} << 16) | (tail == 2 ? unsigned{data[1]} << 8 : 0u);
  out = putChar(kAlphabet[group >> 18], out);
  out = putChar(kAlphabet[(group >> 12) & 63], out);
  out = tail == 2 ? putChar(kAlphabet[(group >> 6) & 63], out) : putChar('=', out);
  return putChar('=', out);
}

char* encodeEscapedBase64(const std::uint8_t* data, std::size_t size, char* out) {
  static const bool useAvx2 = canEncodeWithAvx2();
  return useAvx2 ? encodeEscapedBase64Avx2(data, size, out)
                 : encodeEscapedBase64Portable(data, size, out);
}

}  // namespace mirevo::audio
