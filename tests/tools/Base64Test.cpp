#include "Base64.hpp"

#include <gtest/gtest.h>

#include <string>

namespace mirevo::inspect {
namespace {

std::string asText(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

TEST(Base64, DecodesTheStandardVectors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"Zg==", "f"},
      {"Zm8=", "fo"},
      {"Zm9v", "foo"},
      {"Zm9vYg==", "foob"},
      {"Zm9vYmE=", "fooba"},
      {"Zm9vYmFy", "foobar"},
  };
  for (const auto& [encoded, plain] : cases) {
    const auto bytes = decodeBase64(encoded);
    ASSERT_TRUE(bytes) << encoded;
    EXPECT_EQ(asText(*bytes), plain) << encoded;
  }
}

TEST(Base64, DecodesTheSolidusAndPlusOfTheAlphabet) {
  // -1, 0, 16, -16 as little-endian 16-bit samples.
  const auto bytes = decodeBase64("//8AABAA8P8=");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{0xFF, 0xFF, 0x00, 0x00, 0x10, 0x00, 0xF0, 0xFF}));
  EXPECT_EQ(*decodeBase64("+/+/"), (std::vector<std::uint8_t>{0xFB, 0xFF, 0xBF}));
}

TEST(Base64, RejectsMalformedText) {
  for (const char* text : {"Zg=", "Zm9vY", "Zm9\\/", "Zm 9v", "Zg==Zg==", "=Zg=", "Z===",
                           "Zh==" /* leftover bits set */, "Zm9vYg\n=="})
    EXPECT_FALSE(decodeBase64(text)) << text;
}

// The JSON-escaped form decodes as its unescaped text does, and refuses what
// the agent never writes inside the string.
TEST(Base64, DecodesTheJsonEscapedFormAsTheUnescapedOne) {
  struct Case {
    const char* escaped;
    const char* plain;  // nullptr: refused
  };
  const Case cases[] = {
      {"\\/\\/8AABAA8P8=", "//8AABAA8P8="},
      {"+\\/+\\/", "+/+/"},
      {"Zm9vYmFy", "Zm9vYmFy"},
      {"", ""},
      {"//8A", nullptr},       // a bare solidus
      {"\\u002f8A", nullptr},  // another escape
      {"Zm9\\", nullptr},      // a backslash at the end
      {"Zh==", nullptr},
  };
  std::vector<std::uint8_t> bytes{1, 2, 3};
  for (const Case& c : cases) {
    const bool decoded = decodeJsonEscapedBase64(c.escaped, bytes);
    ASSERT_EQ(decoded, c.plain != nullptr) << c.escaped;
    if (decoded) {
      EXPECT_EQ(bytes, *decodeBase64(c.plain)) << c.escaped;
    }
  }
}

}  // namespace
}  // namespace mirevo::inspect
