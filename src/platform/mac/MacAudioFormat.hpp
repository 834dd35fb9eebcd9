// The audio format of a sample buffer as AVFoundation describes it (an
// AVAudioFormat's sample rate, channel count, layout and common format), in
// the platform's terms.
#pragma once

#include <cstdint>

#include "platform/AudioFormat.hpp"

namespace mirevo::platform::mac {

// AVAudioCommonFormat, with its values.
enum class CommonFormat : unsigned long {
  other = 0,
  float32 = 1,
  float64 = 2,
  int16 = 3,
  int32 = 4,
};

struct FormatFacts {
  double sampleRate = 0.0;
  std::uint32_t channelCount = 0;
  bool interleaved = false;
  CommonFormat commonFormat = CommonFormat::other;
};

// The four common formats keep their sample type. Any other format, PCM of
// another width included, cannot be held in a working buffer, so the
// accumulator rejects it as an unsupported format.
AudioFormat audioFormatOf(const FormatFacts& facts);

}  // namespace mirevo::platform::mac
