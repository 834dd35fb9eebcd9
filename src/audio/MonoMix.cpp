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
// 24 bits fit a float's significand: exact, like the 8- and 16-bit products.
inline float toFloat(platform::PackedInt24 sample) {
  return static_cast<float>(sample.value()) * 0x1p-23f;
}
inline float toFloat(std::int8_t sample) {
  return static_cast<float>(sample) * 0x1p-7f;
}
inline float toFloat(std::uint8_t sample) {
  return static_cast<float>(static_cast<int>(sample) - 128) * 0x1p-7f;
}

// Four frames at a time in vector registers (the compiler's generic vectors:
// plain SSE2 on x86-64, NEON on ARM). Every lane does exactly what the scalar
// rule does, so the bits are the same. The squares of each group of four are
// added to the double sum one by one, in frame order, while the next group is
// converted: the additions form one chain whose rounding stays sequential,
// and the conversion runs in its shadow.
using Floats = float __attribute__((vector_size(16)));
using Words = std::uint32_t __attribute__((vector_size(16)));
using Ints = std::int32_t __attribute__((vector_size(16)));

// Clamps and converts four mono values to `out`; returns the clamped squares.
inline Floats toPcm(Floats mono, std::int16_t* out) {
  const Floats one = {1.0f, 1.0f, 1.0f, 1.0f};
  Floats clamped = mono < -one ? -one : mono;
  clamped = clamped > one ? one : clamped;
  // NaN and both infinities fail this test and become silence.
  const auto magnitude = reinterpret_cast<Floats>(reinterpret_cast<Words>(mono) & 0x7fffffffu);
  const auto keep = reinterpret_cast<Words>(magnitude <= FLT_MAX);
  const auto kept = reinterpret_cast<Floats>(reinterpret_cast<Words>(clamped) & keep);
  const Ints samples = __builtin_convertvector(kept * 32767.0f, Ints);  // truncates toward zero
  for (int lane = 0; lane < 4; ++lane) out[lane] = static_cast<std::int16_t>(samples[lane]);
  return kept * kept;
}

// The same for one value: the frames that do not fill a group of four.
inline float toPcm(float mono, std::int16_t& out) {
  const float clamped = std::min(std::max(mono, -1.0f), 1.0f);
  const float kept = std::fabs(mono) <= FLT_MAX ? clamped : 0.0f;
  out = static_cast<std::int16_t>(static_cast<std::int32_t>(kept * 32767.0f));
  return kept * kept;
}

inline void addSquares(Floats squares, double& sum) {
  for (int lane = 0; lane < 4; ++lane) sum += static_cast<double>(squares[lane]);
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

// The channel sums of frames frame .. frame + 3.
template <std::uint32_t kChannels, typename Sample, bool kInterleaved>
inline Floats fourFrameSums(const Layout<Sample, kInterleaved>& layout, std::int64_t frame) {
  const auto lanes = [&](std::uint32_t c) {
    return Floats{toFloat(layout.at(frame, c)), toFloat(layout.at(frame + 1, c)),
                  toFloat(layout.at(frame + 2, c)), toFloat(layout.at(frame + 3, c))};
  };
  Floats sum = lanes(0);
  const std::uint32_t n = kChannels != 0 ? kChannels : layout.channels;
  for (std::uint32_t c = 1; c < n; ++c) sum += lanes(c);
  return sum;
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
  double sum = sumOfSquares;
  std::int64_t i = 0;
  if (count >= 4) {
    Floats pending = toPcm(fourFrameSums<kChannels>(fixed, first) / divisor, out);
    for (i = 4; i + 4 <= count; i += 4) {
      const Floats squares = toPcm(fourFrameSums<kChannels>(fixed, first + i) / divisor, out + i);
      addSquares(pending, sum);
      pending = squares;
    }
    addSquares(pending, sum);
  }
  for (; i < count; ++i) {
    sum += static_cast<double>(toPcm(frameSum<kChannels>(fixed, first + i) / divisor, out[i]));
  }
  sumOfSquares = sum;
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
  using platform::SampleType;
  MixSource source;
  source.channels = buffer.format().channelCount;
  source.interleaved = buffer.format().interleaved;
  source.arrays = buffer.channelData();
  source.valid = true;
  switch (buffer.format().sampleType) {
    case SampleType::float32:
      source.kind = MixSource::Kind::float32;
      break;
    case SampleType::int16:
      source.kind = MixSource::Kind::int16;
      break;
    case SampleType::int32:
      source.kind = MixSource::Kind::int32;
      break;
    case SampleType::int24:
      source.kind = MixSource::Kind::int24;
      break;
    case SampleType::int8:
      source.kind = MixSource::Kind::int8;
      break;
    case SampleType::uint8:
      source.kind = MixSource::Kind::uint8;
      break;
    case SampleType::float64:
    case SampleType::compressed:
      source.valid = false;
      break;
  }
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
    case MixSource::Kind::int24:
      return mixTyped<platform::PackedInt24>(source, first, count, out, sumOfSquares);
    case MixSource::Kind::int8:
      return mixTyped<std::int8_t>(source, first, count, out, sumOfSquares);
    case MixSource::Kind::uint8:
      return mixTyped<std::uint8_t>(source, first, count, out, sumOfSquares);
  }
}

}  // namespace mirevo::audio
