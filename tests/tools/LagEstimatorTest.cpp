#include "LagEstimator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Inspector.hpp"
#include "LagSummary.hpp"
#include "SpeechLikeSignal.hpp"
#include "TwoSourceStream.hpp"

namespace mirevo::inspect {
namespace {

using mirevo::testing::SpeechLikeSignal;
using mirevo::testing::whiteNoiseAt;

struct LagCase {
  std::string name;
  double seconds;
  double startLagMs;           // the microphone's lag behind the system audio at 0 s
  double growthMsPerMinute;    // how the lag changes (a drifting clock)
  bool microphoneHearsSystem;  // false: two unrelated signals
  std::int64_t sampleRate = 48000;
};

double truthMs(const LagCase& c, double seconds) {
  return c.startLagMs + c.growthMsPerMinute * seconds / 60.0;
}

// The stream of one recording: the system audio plays speech-like bursts;
// the microphone hears them (quieter, later by the case's lag) over its own
// speaker and some noise, or, unrelated, only its own speaker and noise.
std::string streamOf(const LagCase& c) {
  const SpeechLikeSignal played(1);
  const SpeechLikeSignal speaker(2);
  mirevo::testing::TwoSourceRecording recording;
  recording.seconds = c.seconds;
  recording.sampleRate = c.sampleRate;
  recording.system = [&](double t) { return played.at(t); };
  recording.microphone = [&](double t) {
    const double echo = c.microphoneHearsSystem ? 0.5 * played.at(t - truthMs(c, t) / 1000.0) : 0;
    return echo + 0.3 * speaker.at(t) + 0.02 * whiteNoiseAt(3, t);
  };
  std::ostringstream stream;
  mirevo::testing::writeTwoSourceStream(stream, recording);
  return stream.str();
}

TEST(LagEstimator, FindsTheLagOfEachWindowWithinHalfAMillisecond) {
  const LagCase cases[] = {
      {"fixed lag", 24, 12.53, 0.0, true},         {"microphone earlier", 16, -4.2, 0.0, true},
      {"growing lag", 60, 2.0, 6.0, true},         {"no common sound", 24, 0.0, 0.0, false},
      {"at 44.1 kHz", 16, 7.77, 0.0, true, 44100},
  };
  for (const LagCase& c : cases) {
    SCOPED_TRACE(c.name);
    Inspector inspector;
    std::istringstream input(streamOf(c));
    inspector.read(input);
    inspector.finish();
    ASSERT_TRUE(inspector.violations().empty()) << inspector.violations().front().text;
    const auto& windows = inspector.audio(1)->lag.windows();
    ASSERT_EQ(windows.size(), static_cast<std::size_t>(c.seconds * 1000 / LagEstimator::kWindowMs));
    const LagSummary summary = summariseLags(windows);

    if (!c.microphoneHearsSystem) {
      EXPECT_EQ(summary.withCommonSound, 0u);
      EXPECT_FALSE(summary.medianMs);
      continue;
    }
    double worst = 0;
    for (const LagWindow& window : windows) {
      ASSERT_TRUE(window.lagMs) << "window at " << window.startMs << " ms";
      const double truth = truthMs(c, (window.startMs + window.lengthMs / 2) / 1000.0);
      EXPECT_NEAR(*window.lagMs, truth, 0.5) << "window at " << window.startMs << " ms";
      EXPECT_GT(window.coherence, 0.0);
      worst = std::max(worst, std::fabs(*window.lagMs - truth));
    }
    ASSERT_TRUE(summary.medianMs && summary.driftMsPerMinute);
    EXPECT_NEAR(*summary.medianMs, truthMs(c, c.seconds / 2), 0.5);
    EXPECT_NEAR(*summary.driftMsPerMinute, c.growthMsPerMinute, 0.25);
    std::printf("%s: worst window off by %.3f ms, median %.3f ms, drift %.3f ms/min\n",
                c.name.c_str(), worst, *summary.medianMs, *summary.driftMsPerMinute);
  }
}

// Audio after an hour without any, or after a jump of a century, costs
// neither memory nor windows: the empty time is skipped, and the lag is
// found on both sides of it.
TEST(LagEstimator, SkipsTimeWithoutAudioInEitherSource) {
  const SpeechLikeSignal played(1);
  for (const double jumpMs : {3600e3, 3.2e12}) {
    LagEstimator estimator;
    for (const double startMs : {0.0, 4000.0, jumpMs, jumpMs + 4000.0}) {
      std::vector<std::int16_t> system(192000);  // 4 s at 48 kHz
      std::vector<std::int16_t> microphone(system.size());
      for (std::size_t i = 0; i < system.size(); ++i) {
        const double t = static_cast<double>(i) / 48000.0 + startMs / 1000.0 - jumpMs / 1000.0;
        system[i] = static_cast<std::int16_t>(std::lround(20000 * played.at(t)));
        microphone[i] = static_cast<std::int16_t>(std::lround(10000 * played.at(t - 0.0031)));
      }
      estimator.addSystem(startMs, system, 48000);
      estimator.addMicrophone(startMs, microphone, 48000);
    }
    estimator.finish();
    const auto& windows = estimator.windows();
    ASSERT_EQ(windows.size(), 4u) << jumpMs;
    for (const LagWindow& window : windows) {
      ASSERT_TRUE(window.lagMs) << window.startMs;
      EXPECT_NEAR(*window.lagMs, 3.1, 0.5) << window.startMs;
    }
    EXPECT_DOUBLE_EQ(windows[2].startMs, jumpMs);
  }
}

TEST(LagSummary, MedianAndDriftFromTheFirstWindowsToTheLast) {
  std::vector<LagWindow> windows;
  // 20 windows of 4 s: lags 10, 11, ... ms; the fourth finds no sound.
  for (int i = 0; i < 20; ++i) {
    windows.push_back({i * 4000.0, 4000.0, 10.0 + i, 0.5});
    if (i == 3) windows.back().lagMs.reset();
  }
  const LagSummary summary = summariseLags(windows);
  EXPECT_EQ(summary.windows, 20u);
  EXPECT_EQ(summary.withCommonSound, 19u);
  EXPECT_DOUBLE_EQ(*summary.medianMs, 20.0);
  // First four found: 10, 11, 12, 14; last four: 26..29.
  EXPECT_DOUBLE_EQ(*summary.firstMs, 11.5);
  EXPECT_DOUBLE_EQ(*summary.lastMs, 27.5);
  // Their mean times: (2 + 6 + 10 + 18) / 4 = 9 s and (66 + 70 + 74 + 78) / 4 = 72 s.
  EXPECT_NEAR(*summary.driftMsPerMinute, 16.0 / (63.0 / 60.0), 1e-9);

  EXPECT_FALSE(summariseLags({{0, 4000, std::nullopt, 0}}).medianMs);
  EXPECT_FALSE(summariseLags({{0, 4000, 3.0, 0.4}}).driftMsPerMinute);
}

}  // namespace
}  // namespace mirevo::inspect
