#include "audio/MonoMix.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

namespace mirevo::audio {
namespace {

constexpr std::uint32_t kMaxChannels = 32;

inline float toFloat(float sample) {
  return sample;
}
// Powers of two: the product is exact, as the rule asks.
inline float toFloat(std::int16_t sample) {
  return static_cast<float>(sample) * 0x1p-15f;
}
inline float toFloat(std::int32_t sample) {
  return static_cast<float>(sample) * 0x1p-31f;
}

// Clamps, converts and meters one mono value.
inline std::int16_t toPcm(float mono, double& sumOfSquares) {
  // NaN and both infinities fail this test and become silence.
  const float clamped = std::fabs(mono) <= FLT_MAX ? std::clamp(mono, -1.0f, 1.0f) : 0.0f;
  sumOfSquares += static_cast<double>(clamped * clamped);
  return static_cast<std::int16_t>(static_cast<std::int32_t>(clamped * 32767.0f));
}

// kChannels is the channel count when known at compile time (1 or 2), else 0.
// With it known, the division by 1 or 2 compiles to an exact identity or
// halving, which gives the same bits as the division.
template <typename Sample, std::uint32_t kChannels>
void mixInterleaved(const Sample* data, std::uint32_t channels, std::int64_t first,
                    std::int64_t count, std::int16_t* out, double& sumOfSquares) {
  const std::uint32_t n = kChannels != 0 ? kChannels : channels;
  const float divisor = static_cast<float>(n);
  const Sample* frame = data + static_cast<std::size_t>(first) * n;
  double sum = sumOfSquares;
  for (std::int64_t f = 0; f < count; ++f, frame += n) {
    float mono = toFloat(frame[0]);
    for (std::uint32_t c = 1; c < n; ++c) mono += toFloat(frame[c]);
    out[f] = toPcm(mono / divisor, sum);
  }
  sumOfSquares = sum;
}

template <typename Sample, std::uint32_t kChannels>
void mixPlanar(const void* const* arrays, std::uint32_t channels, std::int64_t first,
               std::int64_t count, std::int16_t* out, double& sumOfSquares) {
  const std::uint32_t n = kChannels != 0 ? kChannels : channels;
  const float divisor = static_cast<float>(n);
  // Typed copies of the array pointers (at most kMaxChannels of them).
  const Sample* planes[kMaxChannels];
  for (std::uint32_t c = 0; c < n; ++c) planes[c] = static_cast<const Sample*>(arrays[c]);
  double sum = sumOfSquares;
  for (std::int64_t f = first; f < first + count; ++f) {
    float mono = toFloat(planes[0][f]);
    for (std::uint32_t c = 1; c < n; ++c) mono += toFloat(planes[c][f]);
    *out++ = toPcm(mono / divisor, sum);
  }
  sumOfSquares = sum;
}

template <typename Sample>
void mixTyped(const MixSource& source, std::int64_t first, std::int64_t count, std::int16_t* out,
              double& sumOfSquares) {
  if (source.interleaved) {
    const auto* data = static_cast<const Sample*>(source.arrays[0]);
    switch (source.channels) {
      case 1:
        return mixInterleaved<Sample, 1>(data, 1, first, count, out, sumOfSquares);
      case 2:
        return mixInterleaved<Sample, 2>(data, 2, first, count, out, sumOfSquares);
      default:
        return mixInterleaved<Sample, 0>(data, source.channels, first, count, out, sumOfSquares);
    }
  }
  switch (source.channels) {
    case 1:
      return mixPlanar<Sample, 1>(source.arrays, 1, first, count, out, sumOfSquares);
    case 2:
      return mixPlanar<Sample, 2>(source.arrays, 2, first, count, out, sumOfSquares);
    default:
      return mixPlanar<Sample, 0>(source.arrays, source.channels, first, count, out, sumOfSquares);
  }
}

}  // namespace

MixSource mixSourceOf(const platform::PcmBuffer& buffer) {
  MixSource source;
  source.channels = buffer.format().channelCount;
  source.interleaved = buffer.format().interleaved;
  if (const auto* data = buffer.floatChannelData()) {
    source.kind = MixSource::Kind::float32;
    source.arrays = reinterpret_cast<const void* const*>(data);
  } else if (const auto* data16 = buffer.int16ChannelData()) {
    source.kind = MixSource::Kind::int16;
    source.arrays = reinterpret_cast<const void* const*>(data16);
  } else if (const auto* data32 = buffer.int32ChannelData()) {
    source.kind = MixSource::Kind::int32;
    source.arrays = reinterpret_cast<const void* const*>(data32);
  } else {
    return source;
  }
  source.valid = true;
  return source;
}

void mixToMono(const MixSource& source, std::int64_t first, std::int64_t count, std::int16_t* out,
               double& sumOfSquares) {
  switch (source.kind) {
    case MixSource::Kind::float32:
      return mixTyped<float>(source, first, count, out, sumOfSquares);
    case MixSource::Kind::int16:
      return mixTyped<std::int16_t>(source, first, count, out, sumOfSquares);
    case MixSource::Kind::int32:
      return mixTyped<std::int32_t>(source, first, count, out, sumOfSquares);
  }
}

}  // namespace mirevo::audio
