#include "audio/MonoMix.hpp"

#include <algorithm>
#include <bit>
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

// Frames are converted in blocks: first every value of the block, in a loop
// the compiler can vectorise, then the squares are added to the double sum one
// by one in frame order, which keeps the sum's rounding exactly sequential.
constexpr std::int64_t kBlock = 256;

// Clamps and converts one mono value; returns the clamped value's square.
// Written without branches so that the block loop vectorises.
inline float toPcm(float mono, std::int16_t& out) {
  const float clamped = std::min(std::max(mono, -1.0f), 1.0f);
  // NaN and both infinities fail this test and become silence.
  const std::uint32_t keep = std::fabs(mono) <= FLT_MAX ? 0xffffffffu : 0u;
  const float kept = std::bit_cast<float>(std::bit_cast<std::uint32_t>(clamped) & keep);
  out = static_cast<std::int16_t>(static_cast<std::int32_t>(kept * 32767.0f));
  return kept * kept;
}

inline void addSquares(const float* squares, std::int64_t count, double& sumOfSquares) {
  double sum = sumOfSquares;
  for (std::int64_t i = 0; i < count; ++i) sum += static_cast<double>(squares[i]);
  sumOfSquares = sum;
}

// Reads sample (frame, channel) of an interleaved or a planar layout.
template <typename Sample, bool kInterleaved>
struct Layout {
  const Sample* const* planes;
  std::uint32_t channels;
  Sample at(std::int64_t frame, std::uint32_t channel) const {
    if constexpr (kInterleaved) return planes[0][frame * channels + channel];
    return planes[channel][frame];
  }
};

// The channels of one frame summed in order, in single precision.
template <std::uint32_t kChannels, typename Sample, bool kInterleaved>
inline float frameSum(const Layout<Sample, kInterleaved>& layout, std::int64_t frame) {
  if constexpr (kChannels == 1) {
    return toFloat(layout.at(frame, 0));
  } else if constexpr (kChannels == 2) {
    return toFloat(layout.at(frame, 0)) + toFloat(layout.at(frame, 1));
  } else {
    float sum = toFloat(layout.at(frame, 0));
    for (std::uint32_t c = 1; c < layout.channels; ++c) sum += toFloat(layout.at(frame, c));
    return sum;
  }
}

// kChannels is the channel count when known at compile time (1 or 2), else 0.
// With it known, the division by 1 or 2 compiles to an exact identity or
// halving, which gives the same bits as the division.
template <typename Sample, bool kInterleaved, std::uint32_t kChannels>
void mixLayout(const Layout<Sample, kInterleaved>& layout, std::int64_t first, std::int64_t count,
               std::int16_t* out, double& sumOfSquares) {
  const std::uint32_t n = kChannels != 0 ? kChannels : layout.channels;
  const Layout<Sample, kInterleaved> fixed{layout.planes, n};
  const float divisor = static_cast<float>(n);
  float squares[kBlock];
  for (std::int64_t begin = 0; begin < count; begin += kBlock) {
    const std::int64_t size = std::min(kBlock, count - begin);
    const std::int64_t frame0 = first + begin;
    for (std::int64_t i = 0; i < size; ++i) {
      squares[i] = toPcm(frameSum<kChannels>(fixed, frame0 + i) / divisor, out[begin + i]);
    }
    addSquares(squares, size, sumOfSquares);
  }
}

template <typename Sample, bool kInterleaved>
void mixChannels(const Layout<Sample, kInterleaved>& layout, std::int64_t first, std::int64_t count,
                 std::int16_t* out, double& sumOfSquares) {
  switch (layout.channels) {
    case 1:
      return mixLayout<Sample, kInterleaved, 1>(layout, first, count, out, sumOfSquares);
    case 2:
      return mixLayout<Sample, kInterleaved, 2>(layout, first, count, out, sumOfSquares);
    default:
      return mixLayout<Sample, kInterleaved, 0>(layout, first, count, out, sumOfSquares);
  }
}

template <typename Sample>
void mixTyped(const MixSource& source, std::int64_t first, std::int64_t count, std::int16_t* out,
              double& sumOfSquares) {
  // Typed copies of the array pointers: one when interleaved, else one per channel.
  const Sample* planes[kMaxChannels];
  const std::uint32_t arrays = source.interleaved ? 1 : source.channels;
  for (std::uint32_t a = 0; a < arrays; ++a)
    planes[a] = static_cast<const Sample*>(source.arrays[a]);
  if (source.interleaved) {
    mixChannels(Layout<Sample, true>{planes, source.channels}, first, count, out, sumOfSquares);
  } else {
    mixChannels(Layout<Sample, false>{planes, source.channels}, first, count, out, sumOfSquares);
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
