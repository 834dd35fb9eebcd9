// The timeline's rules on plain numbers: anchoring, gaps, drift.
#include "platform/pulse/StreamTimeline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>

namespace mirevo::platform::pulse {
namespace {

constexpr double kRate = 48000.0;
constexpr std::int64_t kFragment = 2400;  // 50 ms
constexpr double kFragmentSeconds = kFragment / kRate;

TEST(StreamTimeline, AnchorsAtTheFirstCaptureTimeThenCountsSamples) {
  StreamTimeline timeline(kRate);
  EXPECT_DOUBLE_EQ(timeline.place(kFragment, 10.32), 10.32);
  EXPECT_DOUBLE_EQ(timeline.place(kFragment, 10.32 + kFragmentSeconds + 0.030),
                   10.32 + kFragmentSeconds);
}

TEST(StreamTimeline, ALastingOffsetBelowTheGapIsSlewedAwayGently) {
  StreamTimeline timeline(kRate);
  double previous = timeline.place(kFragment, 0.0);
  double captured = 0.0;
  // From the second read on, every capture time lies 60 ms later.
  for (int i = 1; i < 20 * 120; ++i) {
    captured = i * kFragmentSeconds + 0.060;
    const double placed = timeline.place(kFragment, captured);
    ASSERT_NEAR(placed - previous, kFragmentSeconds,
                kFragmentSeconds * StreamTimeline::kMaxSlew + 1e-9)
        << "fragment " << i;
    previous = placed;
  }
  EXPECT_NEAR(previous, captured, StreamTimeline::kDeadBandSeconds + 0.001);
}

TEST(StreamTimeline, CountsSamplesThroughLatencyJitter) {
  StreamTimeline timeline(kRate);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> jitter(-0.040, 0.040);
  const double anchor = timeline.place(kFragment, 100.0);
  EXPECT_DOUBLE_EQ(anchor, 100.0);
  for (int i = 1; i < 2000; ++i) {
    const double exact = 100.0 + i * kFragmentSeconds;
    const double placed = timeline.place(kFragment, exact + jitter(random));
    // Noise alone never moves the timeline.
    ASSERT_DOUBLE_EQ(placed, exact) << "fragment " << i;
  }
}

struct GapCase {
  const char* name;
  double jumpSeconds;
  bool reanchors;
};

void PrintTo(const GapCase& gap, std::ostream* out) {
  *out << gap.name;
}

class StreamTimelineGap : public ::testing::TestWithParam<GapCase> {};

TEST_P(StreamTimelineGap, OnlyAJumpAbove100MillisecondsReanchors) {
  StreamTimeline timeline(kRate);
  double captured = 50.0;
  for (int i = 0; i < 10; ++i, captured += kFragmentSeconds) {
    timeline.place(kFragment, captured);
  }
  const double expected = captured;
  const double jumped = captured + GetParam().jumpSeconds;
  const double placed = timeline.place(kFragment, jumped);
  if (GetParam().reanchors) {
    EXPECT_DOUBLE_EQ(placed, jumped);
    // Counting goes on from the new anchor.
    EXPECT_NEAR(timeline.place(kFragment, jumped + kFragmentSeconds), jumped + kFragmentSeconds,
                1e-9);
  } else {
    EXPECT_DOUBLE_EQ(placed, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Jumps, StreamTimelineGap,
                         ::testing::Values(GapCase{"suspendedForASecond", 1.0, true},
                                           GapCase{"stallOf150Milliseconds", 0.150, true},
                                           GapCase{"backwards150Milliseconds", -0.150, true},
                                           GapCase{"jitterOf90Milliseconds", 0.090, false},
                                           GapCase{"backwards90Milliseconds", -0.090, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamTimeline, ThreeHoursOfClockDriftNeverBreakTheTimeline) {
  // The sound card runs 100 ppm slow against the host clock: 1.08 s over
  // three hours, far beyond the gap limit if it were not absorbed.
  StreamTimeline timeline(kRate);
  const double hostPerSample = 1.0001 / kRate;
  double previous = timeline.place(kFragment, 0.0);
  const int fragments = 3 * 3600 * 20;
  double captured = 0.0;
  for (int i = 1; i < fragments; ++i) {
    captured = i * kFragment * hostPerSample;
    const double placed = timeline.place(kFragment, captured);
    // No step ever moves by more than the slew limit.
    ASSERT_NEAR(placed - previous, kFragmentSeconds,
                kFragmentSeconds * StreamTimeline::kMaxSlew + 1e-9)
        << "fragment " << i;
    previous = placed;
  }
  // And the timeline has followed the host clock to its dead band.
  EXPECT_NEAR(previous, captured, StreamTimeline::kDeadBandSeconds + 0.005);
}

}  // namespace
}  // namespace mirevo::platform::pulse
