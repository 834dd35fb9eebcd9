// The audio format of a sample buffer, as the platform describes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mirevo::platform {

enum class SampleType {
  float32,
  int16,
  int32,
  int24,       // packed: three bytes a sample, little-endian (PackedInt24)
  int8,        // signed, 0 is silence
  uint8,       // unsigned, 128 is silence
  float64,     // PCM that the converter does not take
  compressed,  // not PCM at all: no working buffer can be made for it
};

// One packed 24-bit sample, little-endian, as microphones deliver it.
struct PackedInt24 {
  std::uint8_t bytes[3];

  static constexpr PackedInt24 of(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return {{static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
             static_cast<std::uint8_t>(bits >> 16)}};
  }
  // Sign-extended from bit 23.
  constexpr std::int32_t value() const {
    const std::uint32_t bits =
        bytes[0] | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16;
    return static_cast<std::int32_t>(bits << 8) >> 8;
  }
};
static_assert(sizeof(PackedInt24) == 3);

struct AudioFormat {
  double sampleRate = 48000.0;
  std::uint32_t channelCount = 1;
  bool interleaved = true;
  SampleType sampleType = SampleType::float32;
};

// Bytes of one sample of one channel; 0 for a compressed format.
std::size_t bytesPerSample(SampleType type);

}  // namespace mirevo::platform
