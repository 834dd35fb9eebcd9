// Helpers shared by the audio tests: a clock the test sets by hand, a plain
// base64 encoder and decoder to check the fast one against, and the reading of
// emitted chunks back into samples.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Clock.hpp"

namespace mirevo::testing {

class ManualClock final : public platform::Clock {
 public:
  double hostSeconds() const override { return host; }
  double uptimeSeconds() const override { return uptime; }
  double host = 0.0;
  double uptime = 0.0;
};

inline const std::string kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Bit by bit, the textbook way.
inline std::string plainBase64(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  std::uint32_t bits = 0;
  int held = 0;
  for (const std::uint8_t byte : bytes) {
    bits = (bits << 8) | byte;
    held += 8;
    while (held >= 6) {
      held -= 6;
      text.push_back(kBase64Alphabet[(bits >> held) & 63]);
    }
  }
  if (held > 0) text.push_back(kBase64Alphabet[(bits << (6 - held)) & 63]);
  while (text.size() % 4 != 0) text.push_back('=');
  return text;
}

inline std::vector<std::uint8_t> decodeBase64(const std::string& text) {
  if (text.size() % 4 != 0) throw std::invalid_argument("base64 length not a multiple of 4");
  std::vector<std::uint8_t> bytes;
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : text) {
    if (c == '=') break;
    const auto at = kBase64Alphabet.find(c);
    if (at == std::string::npos) throw std::invalid_argument("not a base64 character");
    bits = (bits << 6) | static_cast<std::uint32_t>(at);
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes.push_back(static_cast<std::uint8_t>(bits >> held));
    }
  }
  return bytes;
}

// The samples of an `audio_chunk` event, decoded little-endian.
inline std::vector<std::int16_t> chunkSamples(const nlohmann::json& event) {
  const auto bytes = decodeBase64(event.at("dataBase64").get<std::string>());
  if (bytes.size() % 2 != 0) throw std::invalid_argument("odd PCM byte count");
  std::vector<std::int16_t> samples;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    samples.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return samples;
}

}  // namespace mirevo::testing
