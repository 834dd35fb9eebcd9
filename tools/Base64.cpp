#include "Base64.hpp"

#include <array>

namespace mirevo::inspect {
namespace {

constexpr int kInvalid = -1;

constexpr std::array<int, 256> makeTable() {
  std::array<int, 256> table{};
  table.fill(kInvalid);
  constexpr std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i)
    table[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
  return table;
}

constexpr std::array<int, 256> kTable = makeTable();

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;

  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  const std::size_t dataEnd = text.size() - padding;
  std::uint32_t bits = 0;
  int bitCount = 0;
  for (std::size_t i = 0; i < dataEnd; ++i) {
    const int value = kTable[static_cast<unsigned char>(text[i])];
    if (value == kInvalid) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      bytes.push_back(static_cast<std::uint8_t>(bits >> bitCount));
      bits &= (1u << bitCount) - 1;
    }
  }
  // Bits left over after the last whole byte must be zero in canonical base64.
  if (bits != 0) return std::nullopt;
  return bytes;
}

}  // namespace mirevo::inspect
