#include "Base64.hpp"

#include <array>
#include <cstdint>

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

// The same without the solidus: the quick path of whole groups leaves every
// solidus to the careful one, which takes it plain or as JSON's "\/" as the
// text is.
constexpr std::array<int, 256> makeEscapedTable() {
  std::array<int, 256> table = makeTable();
  table['/'] = kInvalid;
  return table;
}

constexpr std::array<int, 256> kEscapedTable = makeEscapedTable();

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

// Decodes whole groups of four plain characters from text[i] on, as many as
// come before an escape, the padding or the end: nearly all of the text.
void decodePlainGroups(std::string_view text, std::size_t& i, std::uint8_t*& out) {
  const auto* chars = reinterpret_cast<const unsigned char*>(text.data());
  while (i + 4 <= text.size()) {
    const int a = kEscapedTable[chars[i]], b = kEscapedTable[chars[i + 1]],
              c = kEscapedTable[chars[i + 2]], d = kEscapedTable[chars[i + 3]];
    if ((a | b | c | d) < 0) return;
    const auto whole = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
    out[0] = static_cast<std::uint8_t>(whole >> 16);
    out[1] = static_cast<std::uint8_t>(whole >> 8);
    out[2] = static_cast<std::uint8_t>(whole);
    out += 3;
    i += 4;
  }
}

// `escaped`: the text is a JSON string body in which '/' is written "\\/".
bool decodeInto(std::string_view text, bool escaped, std::vector<std::uint8_t>& bytes) {
  const std::array<int, 256>& table = escaped ? kEscapedTable : kTable;
  bytes.resize(text.size() / 4 * 3 + 3);
  std::uint8_t* out = bytes.data();
  std::uint32_t group = 0;
  int groupChars = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (groupChars == 0) {
      decodePlainGroups(text, i, out);
      if (i == text.size()) break;
    }
    // One character at a time near an escape or the padding.
    const char c = text[i++];
    int next = table[static_cast<unsigned char>(c)];
    if (next == kInvalid) {
      if (c == '=') {
        bytes.resize(static_cast<std::size_t>(out - bytes.data()));
        return endsWithPadding(text.substr(i), groupChars, group, bytes);
      }
      if (!(escaped && c == '\\' && i < text.size() && text[i] == '/')) return false;
      next = kSolidus;
      ++i;
    }
    group = (group << 6) | static_cast<std::uint32_t>(next);
    if (++groupChars == 4) {
      *out++ = static_cast<std::uint8_t>(group >> 16);
      *out++ = static_cast<std::uint8_t>(group >> 8);
      *out++ = static_cast<std::uint8_t>(group);
      group = 0;
      groupChars = 0;
    }
  }
  bytes.resize(static_cast<std::size_t>(out - bytes.data()));
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
