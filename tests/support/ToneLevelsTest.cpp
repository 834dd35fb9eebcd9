// The tone detector on generated stretches: clean tones, two at once, the
// dropouts of a starved player, silence, and stretches shorter than a block.
#include "ToneLevels.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace mirevo::testing {
namespace {

constexpr double kRate = 48000.0;
// The tones the real-daemon tests play.
const std::vector<double> kTestTones{440.0, 550.0, 660.0, 770.0, 880.0, 1000.0};

// `seconds` of a sine, from sample `first` of it on.
std::vector<float> sine(double hertz, double seconds, double amplitude = 0.5, double rate = kRate,
                        std::size_t first = 0) {
  std::vector<float> samples(static_cast<std::size_t>(seconds * rate));
  for (std::size_t n = 0; n < samples.size(); ++n) {
    samples[n] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hertz *
                                                         static_cast<double>(n + first) / rate));
  }
  return samples;
}

std::vector<float> mixed(std::vector<float> a, const std::vector<float>& b) {
  for (std::size_t n = 0; n < a.size() && n < b.size(); ++n) a[n] += b[n];
  return a;
}

std::vector<float> joined(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::int16_t> asInt16(const std::vector<float>& samples) {
  std::vector<std::int16_t> out;
  for (const float sample : samples) {
    out.push_back(static_cast<std::int16_t>(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767)));
  }
  return out;
}

// A tone as a starved player leaves it: silences of 5 to 120 ms at random
// places, about a third of the time. The player either goes on where it
// stopped or, when `newPhase`, at a random phase.
std::vector<float> starved(double hertz, double seconds, bool newPhase, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> playMs(20, 250);
  std::uniform_int_distribution<int> gapMs(5, 120);
  std::uniform_int_distribution<std::size_t> phase(0, 48000);
  std::vector<float> samples;
  std::size_t played = 0;
  const auto total = static_cast<std::size_t>(seconds * kRate);
  while (samples.size() < total) {
    const double play = playMs(random) / 1000.0;
    if (newPhase) played = phase(random);
    const auto tone = sine(hertz, play, 0.5, kRate, played);
    played += tone.size();
    samples.insert(samples.end(), tone.begin(), tone.end());
    samples.resize(samples.size() + static_cast<std::size_t>(gapMs(random) * kRate / 1000.0));
  }
  samples.resize(total);
  return samples;
}

std::vector<double> except(double hertz) {
  std::vector<double> others;
  for (const double tone : kTestTones) {
    if (tone != hertz) others.push_back(tone);
  }
  return others;
}

TEST(ToneLevels, AClean440HzToneIsAloneAtItsLevel) {
  const auto tone = sine(440.0, 1.0);
  const auto levels = toneLevels(std::span<const float>(tone), kRate, {440.0, 880.0});
  EXPECT_NEAR(levels.stretchRms, 0.5 / std::sqrt(2.0), 0.001);
  EXPECT_NEAR(levels.toneRms[0], 0.5 / std::sqrt(2.0), 0.002);
  EXPECT_NEAR(levels.relativeDb(0), 0.0, 0.1);
  EXPECT_LT(levels.relativeDb(1), -60.0);
  EXPECT_DOUBLE_EQ(levels.seconds, 1.0);
  EXPECT_DOUBLE_EQ(levels.soundingSeconds, 1.0);
}

// Every tone the tests play tells itself from every other one.
TEST(ToneLevels, EachTestToneIsPresentAndEveryOtherAbsent) {
  for (const double hertz : kTestTones) {
    SCOPED_TRACE(hertz);
    const auto tone = asInt16(sine(hertz, 1.0));
    EXPECT_TRUE(tonesPresent(tone, kRate, {hertz}));
    EXPECT_TRUE(tonesAbsent(tone, kRate, except(hertz)));
  }
}

TEST(ToneLevels, SixteenBitAndFloatSamplesReadAlike) {
  const auto tone = mixed(sine(440.0, 0.5, 0.3), sine(1000.0, 0.5, 0.1));
  const auto fromFloat = toneLevels(std::span<const float>(tone), kRate, {440.0, 1000.0});
  const auto from16 = toneLevels(asInt16(tone), kRate, {440.0, 1000.0});
  EXPECT_NEAR(from16.stretchRms, fromFloat.stretchRms, 1e-4);
  for (std::size_t i = 0; i < 2; ++i) EXPECT_NEAR(from16.toneRms[i], fromFloat.toneRms[i], 1e-4);
}

struct Stretch {
  const char* name;
  std::vector<float> samples;
  std::vector<double> present;
  std::vector<double> absent;
};

void PrintTo(const Stretch& stretch, std::ostream* out) {
  *out << stretch.name;
}

class ToneLevelsOf : public ::testing::TestWithParam<Stretch> {};

TEST_P(ToneLevelsOf, TellsWhichTonesAreThere) {
  const auto& stretch = GetParam();
  const auto samples = asInt16(stretch.samples);
  if (!stretch.present.empty()) {
    EXPECT_TRUE(tonesPresent(samples, kRate, stretch.present));
  }
  EXPECT_TRUE(tonesAbsent(samples, kRate, stretch.absent));
  for (const double hertz : stretch.absent) {
    EXPECT_FALSE(tonesPresent(samples, kRate, {hertz})) << hertz;
  }
  for (const double hertz : stretch.present) {
    EXPECT_FALSE(tonesAbsent(samples, kRate, {hertz})) << hertz;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stretches, ToneLevelsOf,
    ::testing::Values(
        Stretch{"twoTonesAtOnce",
                mixed(sine(440.0, 1.0), sine(880.0, 1.0)),
                {440.0, 880.0},
                {550.0, 660.0, 1000.0}},
        // A player moved to the recorded sink beside the one already there:
        // the newcomer is quieter, and still present.
        Stretch{"aQuieterSecondTone",
                mixed(sine(880.0, 1.0, 0.5), sine(440.0, 1.0, 0.2)),
                {440.0, 880.0},
                {660.0, 1000.0}},
        // The chunk in which the output was switched.
        Stretch{"oneToneThenAnother",
                joined(sine(440.0, 0.5), sine(880.0, 0.5)),
                {440.0, 880.0},
                {550.0, 1000.0}},
        Stretch{"aToneThatStartsLate",
                joined(std::vector<float>(40000), sine(660.0, 0.2)),
                {660.0},
                {440.0, 550.0, 770.0}},
        Stretch{"starvedGoingOn", starved(1000.0, 1.0, false, 7), {1000.0}, except(1000.0)},
        Stretch{"starvedAtNewPhases", starved(440.0, 1.0, true, 11), {440.0}, except(440.0)},
        Stretch{"starvedBesideAnother",
                mixed(starved(880.0, 1.0, true, 3), starved(440.0, 1.0, true, 5)),
                {440.0, 880.0},
                {550.0, 660.0, 1000.0}},
        Stretch{"shorterThanABlock", sine(1000.0, 0.03), {1000.0}, {440.0, 550.0, 660.0}},
        Stretch{"silence", std::vector<float>(48000), {}, kTestTones},
        // Below -60 dBFS: silent, whatever it holds.
        Stretch{"aToneTooQuietToCount", sine(440.0, 1.0, 0.001), {}, {440.0, 880.0}},
        Stretch{"nothingAtAll", {}, {}, {440.0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToneLevels, StarvedToneKeepsItsLevelWhereItSounds) {
  for (const bool newPhase : {false, true}) {
    SCOPED_TRACE(newPhase);
    const auto tone = starved(1000.0, 2.0, newPhase, 23);
    const auto levels = toneLevels(std::span<const float>(tone), kRate, {1000.0});
    EXPECT_GT(levels.relativeDb(0), -3.0) << levels.describe({1000.0});
    EXPECT_LT(levels.soundingSeconds, 2.0);
    EXPECT_GT(levels.soundingSeconds, 1.0);
  }
}

TEST(ToneLevels, ReadsOtherSampleRates) {
  const auto tone = sine(440.0, 1.0, 0.5, 44100.0);
  EXPECT_TRUE(tonesPresent(std::span<const float>(tone), 44100.0, {440.0}));
  EXPECT_TRUE(tonesAbsent(std::span<const float>(tone), 44100.0, {550.0}));
  EXPECT_FALSE(tonesPresent(std::span<const float>(tone), 48000.0, {550.0}));
}

TEST(ToneLevels, SaysEveryLevelWhenACheckFails) {
  const auto tone = sine(440.0, 1.0);
  const auto result = tonesPresent(std::span<const float>(tone), kRate, {440.0, 880.0});
  ASSERT_FALSE(result);
  const std::string message = result.message();
  EXPECT_NE(message.find("880 Hz is not present"), std::string::npos) << message;
  EXPECT_NE(message.find("440 Hz -0.0 dB, 880 Hz -"), std::string::npos) << message;
  EXPECT_NE(message.find("-9.0 dBFS"), std::string::npos) << message;
}

}  // namespace
}  // namespace mirevo::testing
