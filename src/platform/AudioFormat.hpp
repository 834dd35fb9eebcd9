// The audio format of a sample buffer, as the platform describes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mirevo::platform {

enum class SampleType {
  float32,
  int16,
  int32,
  float64,     // PCM that the converter does not take
  compressed,  // not PCM at all: no working buffer can be made for it
};

struct AudioFormat {
  double sampleRate = 48000.0;
  std::uint32_t channelCount = 1;
  bool interleaved = true;
  SampleType sampleType = SampleType::float32;
};

// Bytes of one sample of one channel; 0 for a compressed format.
std::size_t bytesPerSample(SampleType type);

}  // namespace mirevo::platform
