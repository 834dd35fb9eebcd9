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

TEST(StreamTimeline, WithoutTimingEachFragmentTakesNowAndNothingIsAnchored) {
  StreamTimeline timeline(kRate);
  EXPECT_DOUBLE_EQ(timeline.place(kFragment, std::nullopt, 10.0), 10.0);
  EXPECT_DOUBLE_EQ(timeline.place(kFragment, std::nullopt, 10.3), 10.3);
  // The first fragment with timing anchors, at its own capture time.
  EXPECT_DOUBLE_EQ(timeline.place(kFragment, 10.32, 10.4), 10.32);
  EXPECT_NEAR(timeline.place(kFragment, std::nullopt, 10.45), 10.32 + kFragmentSeconds, 1e-9);
}

TEST(StreamTimeline, CountsSamplesThroughLatencyJitter) {
  StreamTimeline timeline(kRate);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> jitter(-0.040, 0.040);
  const double anchor = timeline.place(kFragment, 100.0, 100.05);
  EXPECT_DOUBLE_EQ(anchor, 100.0);
  for (int i = 1; i < 2000; ++i) {
    const double exact = 100.0 + i * kFragmentSeconds;
    const double placed = timeline.place(kFragment, exact + jitter(random), exact + 0.05);
    // Zero-mean noise moves the timeline by a fraction of a millisecond.
    ASSERT_NEAR(placed, exact, 0.005) << "fragment " << i;
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
    timeline.place(kFragment, captured, captured + 0.05);
  }
  const double expected = captured;
  const double jumped = captured + GetParam().jumpSeconds;
  const double placed = timeline.place(kFragment, jumped, jumped + 0.05);
  if (GetParam().reanchors) {
    EXPECT_DOUBLE_EQ(placed, jumped);
    // Counting goes on from the new anchor.
    EXPECT_NEAR(timeline.place(kFragment, std::nullopt, 0.0), jumped + kFragmentSeconds, 1e-9);
  } else {
    EXPECT_NEAR(placed, expected, std::fabs(GetParam().jumpSeconds) * 0.02);
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
  double previous = timeline.place(kFragment, 0.0, 0.05);
  const int fragments = 3 * 3600 * 20;
  double captured = 0.0;
  for (int i = 1; i < fragments; ++i) {
    captured = i * kFragment * hostPerSample;
    const double placed = timeline.place(kFragment, captured, captured + 0.05);
    ASSERT_NEAR(placed - previous, kFragmentSeconds, 0.001) << "fragment " << i;
    previous = placed;
  }
  // And the timeline has followed the host clock.
  EXPECT_NEAR(previous, captured, 0.010);
}

}  // namespace
}  // namespace mirevo::platform::pulse
