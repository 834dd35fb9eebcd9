// Helpers shared by the audio tests: a clock the test sets by hand and a plain
// base64 encoder to check the fast one against. Chunks are read back into
// samples with ChunkSamples.hpp of the shared test support.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ChunkSamples.hpp"
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

}  // namespace mirevo::testing
