// The conversion to mono 16-bit written the plain way, one frame at a time,
// for the tests to check the converter against: each channel's sample as a
// float (8-bit ÷ 128, unsigned 8-bit less 128 first, 16-bit ÷ 32768, packed
// 24-bit ÷ 2^23, 32-bit × 2^-31), summed in order in single
// precision, divided by the channel count, clamped to [-1, 1] (NaN and
// infinities become 0), times 32767 truncated toward zero. The level is
// 4 × RMS of the clamped values, at most 1.
//
// Threads: pure functions; any thread.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "platform/AudioFormat.hpp"

namespace mirevo::testing {

template <typename Sample>
float sampleAsFloat(Sample sample) {
  if constexpr (std::is_same_v<Sample, float>) return sample;
  if constexpr (std::is_same_v<Sample, std::int16_t>)
    return static_cast<float>(sample) * (1.0f / 32768.0f);
  if constexpr (std::is_same_v<Sample, std::int32_t>) return static_cast<float>(sample) * 0x1p-31f;
  if constexpr (std::is_same_v<Sample, platform::PackedInt24>)
    return static_cast<float>(sample.value()) / 8388608.0f;
  if constexpr (std::is_same_v<Sample, std::int8_t>) return static_cast<float>(sample) / 128.0f;
  if constexpr (std::is_same_v<Sample, std::uint8_t>)
    return (static_cast<float>(sample) - 128.0f) / 128.0f;
}

// The clamped mono value of frame `frame` of `channels[c][f]`.
template <typename Sample>
float clampedMono(const std::vector<std::vector<Sample>>& channels, std::size_t frame) {
  float sum = 0.0f;
  for (const auto& channel : channels) sum += sampleAsFloat(channel[frame]);
  const float mono = sum / static_cast<float>(channels.size());
  if (std::isnan(mono) || std::isinf(mono)) return 0.0f;
  return std::clamp(mono, -1.0f, 1.0f);
}

inline std::int16_t pcm16Of(float clamped) {
  return static_cast<std::int16_t>(std::trunc(clamped * 32767.0f));
}

// One 16-bit mono sample converted back out: what a single 16-bit channel
// becomes.
inline std::int16_t convertedPcm16(std::int16_t sample) {
  return pcm16Of(std::clamp(sampleAsFloat(sample), -1.0f, 1.0f));
}

struct MonoMix {
  std::vector<std::int16_t> samples;
  double level = 0.0;
};

template <typename Sample>
MonoMix referenceMonoMix(const std::vector<std::vector<Sample>>& channels) {
  MonoMix result;
  double squares = 0.0;
  const std::size_t frameCount = channels[0].size();
  for (std::size_t f = 0; f < frameCount; ++f) {
    const float clamped = clampedMono(channels, f);
    result.samples.push_back(pcm16Of(clamped));
    squares += clamped * clamped;
  }
  result.level = std::min(1.0, 4.0 * std::sqrt(squares / static_cast<double>(frameCount)));
  return result;
}

}  // namespace mirevo::testing
