// Conversion of every sample type and layout to mono 16-bit, exact to the bit,
// and the level of each buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "AudioTestSupport.hpp"
#include "CapturedOutput.hpp"
#include "MonoMixReference.hpp"
#include "audio/AudioChunks.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace mirevo {
namespace {

using audio::AudioChunks;
using platform::PackedInt24;
using platform::sim::SimSampleBuffer;
using testing::CapturedOutput;
using testing::ManualClock;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::int16_t kMin16 = std::numeric_limits<std::int16_t>::min();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr PackedInt24 k24(std::int32_t value) {
  return PackedInt24::of(value);
}

// Converts one buffer and returns the samples of the chunk it makes.
std::vector<std::int16_t> convert(const SimSampleBuffer& buffer, double* level = nullptr) {
  CapturedOutput output;
  ManualClock clock;
  AudioChunks chunks("job", "microphone", 0.0, clock);
  chunks.append(buffer);
  chunks.flush();
  if (level) *level = chunks.level();
  const auto events = output.events();
  if (events.size() != 1) throw std::runtime_error("expected exactly one chunk");
  return testing::chunkSamples(events[0]);
}

struct Case {
  const char* name;
  SimSampleBuffer buffer;
  std::vector<std::int16_t> expected;
};

template <typename Sample>
SimSampleBuffer frames(std::vector<std::vector<Sample>> channels, bool interleaved) {
  return SimSampleBuffer::fromChannels<Sample>(channels, 48000.0, interleaved);
}

TEST(AudioChunksConversion, GivesTheExactSampleForEveryTypeAndLayout) {
  const std::vector<Case> cases = {
      {"float mono: clamp, NaN and infinities",
       frames<float>({{0.0f, 1.0f, -1.0f, 1.5f, -1.5f, kNaN, kInf, -kInf, 0.5f, -0.25f}}, true),
       {0, 32767, -32767, 32767, -32767, 0, 0, 0, 16383, -8191}},
      {"float stereo interleaved: channels averaged",
       frames<float>({{0.5f, 1.0f, kNaN, 1.0f}, {-0.5f, 0.5f, 0.0f, 3.0f}}, true),
       {0, 24575, 0, 32767}},
      {"float stereo planar",
       frames<float>({{0.5f, 1.0f, kInf, -1.0f}, {-0.5f, 0.5f, -kInf, -1.0f}}, false),
       {0, 24575, 0, -32767}},
      {"float: tiny values truncate toward zero",
       frames<float>({{1.0f / 32767.0f * 0.999f, -1.0f / 32767.0f * 0.999f, 1e-40f}}, true),
       {0, 0, 0}},
      // Half scale gives one less than half of 32767; full negative never
      // reaches -32768; 32767 scales by 2^-15, not 1/32767, so it stays below 1.
      {"int16 mono",
       frames<std::int16_t>({{16384, -16384, kMin16, 32767, 1, 0}}, true),
       {16383, -16383, -32767, 32766, 0, 0}},
      {"int16 stereo planar",
       frames<std::int16_t>({{16384, 32767, kMin16}, {-16384, 32767, kMin16}}, false),
       {0, 32766, -32767}},
      {"int16 stereo interleaved",
       frames<std::int16_t>({{16384, 8192}, {16384, -8192}}, true),
       {16383, 0}},
      // 32-bit input goes to float first: the largest value rounds up to 2^31
      // and so to full scale.
      {"int32 mono",
       frames<std::int32_t>({{1 << 30, -(1 << 30), kMin32, kMax32, 65536}}, true),
       {16383, -16383, -32767, 32767, 0}},
      {"int32 stereo interleaved",
       frames<std::int32_t>({{kMax32, 1 << 30}, {kMax32, 0}}, true),
       {32767, 8191}},
      {"int32 stereo planar",
       frames<std::int32_t>({{kMin32, 1 << 29}, {kMin32, 1 << 29}}, false),
       {-32767, 8191}},
      // Microphones' packed 24-bit samples scale by 2^-23: exact in a float.
      {"packed int24 mono",
       frames<PackedInt24>(
           {{k24(1 << 22), k24(-(1 << 22)), k24(-(1 << 23)), k24((1 << 23) - 1), k24(256)}}, true),
       {16383, -16383, -32767, 32766, 0}},
      {"packed int24 stereo planar",
       frames<PackedInt24>(
           {{k24(1 << 22), k24((1 << 23) - 1)}, {k24(-(1 << 22)), k24((1 << 23) - 1)}}, false),
       {0, 32766}},
      {"int8 mono",
       frames<std::int8_t>({{64, -64, -128, 127, 1, 0}}, true),
       {16383, -16383, -32767, 32511, 255, 0}},
      // Unsigned 8-bit: 128 is silence.
      {"uint8 mono",
       frames<std::uint8_t>({{128, 192, 64, 0, 255, 129}}, true),
       {0, 16383, -16383, -32767, 32511, 255}},
      {"uint8 stereo interleaved",
       frames<std::uint8_t>({{255, 128}, {0, 64}}, true),
       {-127, -8191}},
      {"three channels: a single-precision division by 3",
       frames<float>({{0.3f, 1.0f}, {0.3f, 1.0f}, {0.3f, -0.5f}}, true),
       {static_cast<std::int16_t>((0.3f + 0.3f + 0.3f) / 3.0f * 32767.0f), 16383}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(convert(c.buffer), c.expected) << c.name;
  }
}

// Random channels: mostly in range, some beyond, and for float a few NaN and
// infinities.
template <typename Sample>
std::vector<std::vector<Sample>> randomChannels(std::mt19937& random, std::uint32_t channels,
                                                std::size_t frameCount) {
  std::vector<std::vector<Sample>> data(channels, std::vector<Sample>(frameCount));
  for (auto& channel : data) {
    for (auto& s : channel) {
      if constexpr (std::is_same_v<Sample, float>) {
        const std::uint32_t pick = random() % 64;
        s = pick == 0   ? kNaN
            : pick == 1 ? -kInf
                        : std::uniform_real_distribution<float>(-1.6f, 1.6f)(random);
      } else if constexpr (std::is_same_v<Sample, PackedInt24>) {
        s = PackedInt24::of(static_cast<std::int32_t>(random()));
      } else {
        s = static_cast<Sample>(random());
      }
    }
  }
  return data;
}

template <typename Sample>
void checkAgainstReference(std::uint32_t seed) {
  std::mt19937 random(seed);
  for (std::uint32_t channels = 1; channels <= 32; ++channels) {
    for (const bool interleaved : {true, false}) {
      const std::size_t frameCount = 1 + random() % 700;
      const auto data = randomChannels<Sample>(random, channels, frameCount);
      double level = -1.0;
      const auto samples =
          convert(SimSampleBuffer::fromChannels<Sample>(data, 48000.0, interleaved), &level);
      const testing::MonoMix expected = testing::referenceMonoMix(data);
      ASSERT_EQ(samples, expected.samples) << channels << " channels, interleaved " << interleaved;
      ASSERT_EQ(level, expected.level) << channels << " channels, interleaved " << interleaved;
    }
  }
}

TEST(AudioChunksConversion, MatchesTheOneSampleRuleForEveryChannelCount) {
  checkAgainstReference<float>(1);
  checkAgainstReference<std::int16_t>(2);
  checkAgainstReference<std::int32_t>(3);
  checkAgainstReference<PackedInt24>(4);
  checkAgainstReference<std::int8_t>(5);
  checkAgainstReference<std::uint8_t>(6);
}

TEST(AudioChunksConversion, LevelIsScaledRmsCappedAtOne) {
  struct LevelCase {
    float value;
    double expected;
  };
  for (const LevelCase c :
       {LevelCase{0.0f, 0.0}, LevelCase{0.25f, 1.0}, LevelCase{0.9f, 1.0}, LevelCase{-2.0f, 1.0}}) {
    double level = -1.0;
    convert(SimSampleBuffer::constant<float>(c.value, 480, 48000.0), &level);
    EXPECT_EQ(level, c.expected) << c.value;
  }
  double level = -1.0;
  convert(SimSampleBuffer::constant<float>(0.1f, 480, 48000.0), &level);
  EXPECT_NEAR(level, 0.4, 1e-6);
}

TEST(AudioChunksConversion, LevelCoversTheWholeBufferAcrossAOneSecondCut) {
  // 0.5 s of silence, then a buffer of 0.75 s whose first 0.5 s is silent and
  // whose rest is loud: the cut falls inside it, the level still counts all of it.
  CapturedOutput output;
  ManualClock clock;
  AudioChunks chunks("job", "microphone", 0.0, clock);
  chunks.append(SimSampleBuffer::silence(24000, 48000.0));
  std::vector<float> samples(36000, 0.0f);
  std::fill(samples.begin() + 24000, samples.end(), 0.05f);
  chunks.append(SimSampleBuffer::mono<float>(samples, 48000.0, 0.5));
  EXPECT_EQ(output.events().size(), 1u);
  EXPECT_EQ(chunks.level(), testing::referenceMonoMix<float>({samples}).level);
}

}  // namespace
}  // namespace mirevo
