#include "Base64.hpp"

#include <array>

namespace mirevo::inspect {
namespace {

constexpr int kInvalid = -1;
constexpr int kSolidus = 63;

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

// The characters after the first '=' must complete the last group of four,
// and the bits that group leaves over must be zero (canonical base64).
bool endsWithPadding(std::string_view rest, int groupChars, std::uint32_t group,
                     std::vector<std::uint8_t>& bytes) {
  if (groupChars == 3 && rest.empty() && (group & 0x3u) == 0) {
    bytes.push_back(static_cast<std::uint8_t>(group >> 10));
    bytes.push_back(static_cast<std::uint8_t>(group >> 2));
    return true;
  }
  if (groupChars == 2 && rest == "=" && (group & 0xFu) == 0) {
    bytes.push_back(static_cast<std::uint8_t>(group >> 4));
    return true;
  }
  return false;
}

// `escaped`: the text is a JSON string body in which '/' is written "\/".
bool decodeInto(std::string_view text, bool escaped, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  bytes.reserve(text.size() / 4 * 3);
  std::uint32_t group = 0;
  int groupChars = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i++];
    int value = kTable[static_cast<unsigned char>(c)];
    if (c == '/' && escaped) return false;
    if (value == kInvalid) {
      if (c == '=') return endsWithPadding(text.substr(i), groupChars, group, bytes);
      if (!(escaped && c == '\\' && i < text.size() && text[i] == '/')) return false;
      value = kSolidus;
      ++i;
    }
    group = (group << 6) | static_cast<std::uint32_t>(value);
    if (++groupChars == 4) {
      bytes.push_back(static_cast<std::uint8_t>(group >> 16));
      bytes.push_back(static_cast<std::uint8_t>(group >> 8));
      bytes.push_back(static_cast<std::uint8_t>(group));
      group = 0;
      groupChars = 0;
    }
  }
  return groupChars == 0;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  if (!decodeInto(text, /*escaped=*/false, bytes)) return std::nullopt;
  return bytes;
}

bool decodeJsonEscapedBase64(std::string_view jsonText, std::vector<std::uint8_t>& bytes) {
  return decodeInto(jsonText, /*escaped=*/true, bytes);
}

}  // namespace mirevo::inspect
