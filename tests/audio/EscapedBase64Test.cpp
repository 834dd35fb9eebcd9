#include "audio/EscapedBase64.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "AudioTestSupport.hpp"

namespace mirevo::audio {
namespace {

using Encoder = char* (*)(const std::uint8_t*, std::size_t, char*);

struct NamedEncoder {
  const char* name;
  Encoder encode;
};

// Every encoder the process may use; the vector one only where it can run.
std::vector<NamedEncoder> encoders() {
  std::vector<NamedEncoder> all = {{"chosen", encodeEscapedBase64},
                                   {"portable", encodeEscapedBase64Portable}};
  if (canEncodeWithAvx2()) all.push_back({"avx2", encodeEscapedBase64Avx2});
  return all;
}

std::string encode(Encoder encoder, const std::vector<std::uint8_t>& bytes) {
  std::string out(escapedBase64Capacity(bytes.size()), '\0');
  char* end = encoder(bytes.data(), bytes.size(), out.data());
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

std::string escapeSolidus(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '/') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

struct Vector {
  std::vector<std::uint8_t> input;
  std::string expected;
};

TEST(EscapedBase64, MatchesKnownVectors) {
  const std::vector<Vector> vectors = {
      {bytesOf(""), ""},
      {bytesOf("f"), "Zg=="},
      {bytesOf("fo"), "Zm8="},
      {bytesOf("foo"), "Zm9v"},
      {bytesOf("foob"), "Zm9vYg=="},
      {bytesOf("fooba"), "Zm9vYmE="},
      {bytesOf("foobar"), "Zm9vYmFy"},
      {{0xff, 0xff, 0xff}, R"(\/\/\/\/)"},
      {{0xff}, R"(\/w==)"},
      {{0xff, 0xff}, R"(\/\/8=)"},
      {{0xfb, 0xff}, R"(+\/8=)"},
      // -1, 0, 16, -16 as little-endian 16-bit samples
      {{0xff, 0xff, 0x00, 0x00, 0x10, 0x00, 0xf0, 0xff}, R"(\/\/8AABAA8P8=)"},
  };
  for (const auto& encoder : encoders()) {
    for (const auto& vector : vectors) {
      EXPECT_EQ(encode(encoder.encode, vector.input), vector.expected)
          << encoder.name << ", input of " << vector.input.size();
    }
  }
}

TEST(EscapedBase64, MatchesPlainEncoderOnRandomData) {
  std::mt19937 random(1234);
  for (std::size_t size = 0; size < 700; ++size) {
    std::vector<std::uint8_t> bytes(size);
    // Some inputs rich in solidi (bytes of all ones), some uniformly random.
    for (auto& byte : bytes)
      byte = static_cast<std::uint8_t>(size % 3 ? random() : random() | 0xfc);
    const std::string expected = escapeSolidus(testing::plainBase64(bytes));
    for (const auto& encoder : encoders()) {
      ASSERT_EQ(encode(encoder.encode, bytes), expected) << encoder.name << ", size " << size;
    }
  }
}

TEST(EscapedBase64, WorstCaseStaysWithinCapacity) {
  // All ones encode to nothing but solidi, each written as two characters.
  for (std::size_t size = 0; size < 100; ++size) {
    const std::vector<std::uint8_t> bytes(size, 0xff);
    const std::size_t capacity = escapedBase64Capacity(size);
    for (const auto& encoder : encoders()) {
      std::string out(capacity + 16, '#');
      char* end = encoder.encode(bytes.data(), size, out.data());
      EXPECT_LE(static_cast<std::size_t>(end - out.data()), capacity) << encoder.name;
      EXPECT_EQ(out.substr(capacity), std::string(16, '#'))
          << encoder.name << " wrote past capacity at " << size;
      EXPECT_EQ(std::string(out.data(), end), escapeSolidus(testing::plainBase64(bytes)))
          << encoder.name;
    }
  }
}

}  // namespace
}  // namespace mirevo::audio
