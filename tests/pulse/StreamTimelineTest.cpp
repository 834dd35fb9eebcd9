// The timeline's rules on plain numbers: anchoring, gaps, late reads, drift.
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

// The time of a read that is settled at once.
double placeNow(StreamTimeline& timeline, double captured) {
  const auto settled = timeline.place(kFragment, captured);
  EXPECT_EQ(settled.count, 1u) << "a read at " << captured << " was not settled at once";
  return settled.seconds[0];
}

TEST(StreamTimeline, AnchorsAtTheFirstCaptureTimeThenCountsSamples) {
  StreamTimeline timeline(kRate);
  EXPECT_DOUBLE_EQ(placeNow(timeline, 10.32), 10.32);
  EXPECT_DOUBLE_EQ(placeNow(timeline, 10.32 + kFragmentSeconds + 0.030), 10.32 + kFragmentSeconds);
}

TEST(StreamTimeline, CountsSamplesThroughLatencyJitter) {
  StreamTimeline timeline(kRate);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> jitter(-0.040, 0.040);
  EXPECT_DOUBLE_EQ(placeNow(timeline, 100.0), 100.0);
  for (int i = 1; i < 2000; ++i) {
    const double exact = 100.0 + i * kFragmentSeconds;
    // Noise alone never moves the timeline.
    ASSERT_DOUBLE_EQ(placeNow(timeline, exact + jitter(random)), exact) << "fragment " << i;
  }
}

struct JumpCase {
  const char* name;
  double jumpSeconds;  // of one read against the count
  bool lasting;        // whether the reads after it agree with it
  bool reanchors;
};

void PrintTo(const JumpCase& jump, std::ostream* out) {
  *out << jump.name;
}

class StreamTimelineJump : public ::testing::TestWithParam<JumpCase> {};

TEST_P(StreamTimelineJump, OnlyALastingJumpAbove100MillisecondsReanchors) {
  const auto& jump = GetParam();
  StreamTimeline timeline(kRate);
  double captured = 50.0;
  for (int i = 0; i < 10; ++i, captured += kFragmentSeconds) placeNow(timeline, captured);
  const double expected = captured;
  const double jumped = captured + jump.jumpSeconds;
  const double next = (jump.lasting ? jumped : captured) + kFragmentSeconds;

  auto settled = timeline.place(kFragment, jumped);
  if (std::fabs(jump.jumpSeconds) <= StreamTimeline::kGapSeconds) {
    ASSERT_EQ(settled.count, 1u);
    EXPECT_DOUBLE_EQ(settled.seconds[0], expected);
    return;
  }
  // Held until the next read tells a gap from a late delivery.
  EXPECT_EQ(settled.count, 0u);
  settled = timeline.place(kFragment, next);
  ASSERT_EQ(settled.count, 2u);
  const double start = jump.reanchors ? jumped : expected;
  EXPECT_DOUBLE_EQ(settled.seconds[0], start);
  EXPECT_NEAR(settled.seconds[1], start + kFragmentSeconds, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Jumps, StreamTimelineJump,
    ::testing::Values(JumpCase{"suspendedForASecond", 1.0, true, true},
                      JumpCase{"stallOf150Milliseconds", 0.150, true, true},
                      JumpCase{"backwards150Milliseconds", -0.150, true, true},
                      JumpCase{"oneReadLateBy150Milliseconds", 0.150, false, false},
                      JumpCase{"oneReadLateByASecond", 1.0, false, false},
                      JumpCase{"jitterOf90Milliseconds", 0.090, true, false},
                      JumpCase{"backwards90Milliseconds", -0.090, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StreamTimeline, AHeldReadIsSettledOnItsOwnTimeAtTheEnd) {
  StreamTimeline timeline(kRate);
  EXPECT_EQ(timeline.flush().count, 0u);
  placeNow(timeline, 5.0);
  EXPECT_EQ(timeline.place(kFragment, 7.0).count, 0u);
  const auto settled = timeline.flush();
  ASSERT_EQ(settled.count, 1u);
  EXPECT_DOUBLE_EQ(settled.seconds[0], 7.0);
}

TEST(StreamTimeline, ALastingOffsetBelowTheGapIsSlewedAwayGently) {
  StreamTimeline timeline(kRate);
  double previous = placeNow(timeline, 0.0);
  double captured = 0.0;
  // From the second read on, every capture time lies 60 ms later.
  for (int i = 1; i < 20 * 120; ++i) {
    captured = i * kFragmentSeconds + 0.060;
    const double placed = placeNow(timeline, captured);
    ASSERT_NEAR(placed - previous, kFragmentSeconds,
                kFragmentSeconds * StreamTimeline::kMaxSlew + 1e-9)
        << "fragment " << i;
    previous = placed;
  }
  EXPECT_NEAR(previous, captured, StreamTimeline::kDeadBandSeconds + 0.001);
}

TEST(StreamTimeline, ThreeHoursOfClockDriftNeverBreakTheTimeline) {
  // The sound card runs 100 ppm slow against the host clock: 1.08 s over
  // three hours, far beyond the gap limit if it were not absorbed.
  StreamTimeline timeline(kRate);
  const double hostPerSample = 1.0001 / kRate;
  double previous = placeNow(timeline, 0.0);
  const int fragments = 3 * 3600 * 20;
  double captured = 0.0;
  for (int i = 1; i < fragments; ++i) {
    captured = i * kFragment * hostPerSample;
    const double placed = placeNow(timeline, captured);
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
