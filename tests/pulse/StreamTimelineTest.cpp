// The timeline's rules on plain numbers: anchoring, gaps, late reads and
// bursts after a stall, drift, and the floor that keeps audio from before the
// start (or from before a switch of streams) out.
#include "platform/pulse/StreamTimeline.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <vector>

namespace mirevo::platform::pulse {
namespace {

constexpr double kRate = 48000.0;
constexpr std::int64_t kFragment = 2400;  // 50 ms
constexpr double kFragmentSeconds = kFragment / kRate;

// The presentation times of reads the timeline settled.
std::vector<double> starts(const std::vector<StreamTimeline::Placed>& placed) {
  std::vector<double> seconds;
  for (const auto& read : placed) seconds.push_back(read.startSeconds);
  return seconds;
}

// Feeds reads of one fragment each and keeps every presentation time the
// timeline settles, in order.
struct Feed {
  StreamTimeline timeline{kRate};
  std::vector<double> placed;
  std::size_t fed = 0;

  // Answers how many reads this one settled.
  std::size_t read(double captured) {
    ++fed;
    return take(starts(timeline.place(kFragment, captured)));
  }
  std::size_t flush() { return take(starts(timeline.flush())); }
  std::size_t take(const std::vector<double>& settled) {
    placed.insert(placed.end(), settled.begin(), settled.end());
    EXPECT_LE(placed.size(), fed) << "more reads settled than were taken";
    return settled.size();
  }
  // How many times consecutive reads do not follow each other within the
  // slew limit.
  int breaks() const {
    int count = 0;
    for (std::size_t i = 1; i < placed.size(); ++i) {
      const double step = placed[i] - placed[i - 1];
      if (std::fabs(step - kFragmentSeconds) > kFragmentSeconds * TimingLimits::kMaxSlew + 1e-9) {
        ++count;
      }
    }
    return count;
  }
};

// The time of a read that is settled at once.
double placeNow(Feed& feed, double captured) {
  EXPECT_EQ(feed.read(captured), 1u) << "a read at " << captured << " was not settled at once";
  return feed.placed.back();
}

TEST(StreamTimeline, AnchorsAtTheFirstCaptureTimeThenCountsSamples) {
  Feed feed;
  EXPECT_DOUBLE_EQ(placeNow(feed, 10.32), 10.32);
  EXPECT_DOUBLE_EQ(placeNow(feed, 10.32 + kFragmentSeconds + 0.030), 10.32 + kFragmentSeconds);
}

TEST(StreamTimeline, CountsSamplesThroughLatencyJitter) {
  Feed feed;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> jitter(-0.040, 0.040);
  EXPECT_DOUBLE_EQ(placeNow(feed, 100.0), 100.0);
  for (int i = 1; i < 2000; ++i) {
    const double exact = 100.0 + i * kFragmentSeconds;
    // Noise alone never moves the timeline.
    ASSERT_DOUBLE_EQ(placeNow(feed, exact + jitter(random)), exact) << "fragment " << i;
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
  Feed feed;
  double captured = 50.0;
  for (int i = 0; i < 10; ++i, captured += kFragmentSeconds) placeNow(feed, captured);
  const double expected = captured;
  const double jumped = captured + jump.jumpSeconds;

  // Only a read later than the count by more than a gap allows is held.
  const std::size_t settledAtOnce = feed.read(jumped);
  EXPECT_EQ(settledAtOnce, jump.jumpSeconds <= TimingLimits::kGapSeconds ? 1u : 0u);
  // A second of reads after it, at the pace of their samples.
  const double after = jump.lasting ? jumped : captured;
  for (int i = 1; i <= 20; ++i) feed.read(after + i * kFragmentSeconds);

  ASSERT_EQ(feed.placed.size(), feed.fed) << "reads still held a second after the jump";
  const double start = jump.reanchors ? jumped : expected;
  EXPECT_DOUBLE_EQ(feed.placed[10], start);
  EXPECT_EQ(feed.breaks(), jump.reanchors ? 1 : 0);
  EXPECT_NEAR(feed.placed.back(), start + 20 * kFragmentSeconds, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(
    Jumps, StreamTimelineJump,
    ::testing::Values(JumpCase{"suspendedForASecond", 1.0, true, true},
                      JumpCase{"stallOf150Milliseconds", 0.150, true, true},
                      // Audio never comes from before what was placed: a
                      // read measured earlier had its latency misjudged.
                      JumpCase{"backwards150Milliseconds", -0.150, true, false},
                      JumpCase{"backwardsASecond", -1.0, true, false},
                      JumpCase{"oneReadLateBy150Milliseconds", 0.150, false, false},
                      JumpCase{"oneReadLateByASecond", 1.0, false, false},
                      JumpCase{"jitterOf90Milliseconds", 0.090, true, false},
                      JumpCase{"backwards90Milliseconds", -0.090, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StreamTimeline, AGapIsConfirmedOnceTheReadsAfterItHaveGoneOnForLongEnough) {
  Feed feed;
  placeNow(feed, 0.0);
  const double resumed = kFragmentSeconds + 1.0;
  int held = 0;
  while (feed.read(resumed + held * kFragmentSeconds) == 0) ++held;
  // Settled by the first read that is kConfirmSeconds past the jump.
  EXPECT_EQ(held, static_cast<int>(std::ceil(TimingLimits::kConfirmSeconds / kFragmentSeconds)));
  EXPECT_DOUBLE_EQ(feed.placed[1], resumed);
}

struct StallCase {
  const char* name;
  double stallSeconds;      // this process not scheduled
  double drainPerFragment;  // seconds it takes to read each waiting fragment
};

void PrintTo(const StallCase& stall, std::ostream* out) {
  *out << stall.name;
}

class StreamTimelineStall : public ::testing::TestWithParam<StallCase> {};

// The fragments that wait in the socket while the process is not scheduled
// arrive in a burst, each measured as captured about when it was read. None
// of them was lost, so the timeline must not break.
TEST_P(StreamTimelineStall, TheBurstAfterAStallKeepsTheCount) {
  const auto& stall = GetParam();
  Feed feed;
  double now = 20.0;
  int fragment = 0;
  const auto captureOf = [](int index) { return 20.0 + index * kFragmentSeconds; };
  for (; fragment < 40; ++fragment, now += kFragmentSeconds) feed.read(captureOf(fragment));
  now += stall.stallSeconds;
  // Each read is measured as now less the one fragment libpulse has read,
  // until the backlog is gone.
  while (captureOf(fragment) < now - kFragmentSeconds) {
    feed.read(now - kFragmentSeconds);
    ++fragment;
    now += stall.drainPerFragment;
  }
  for (int i = 0; i < 40; ++i, ++fragment) feed.read(captureOf(fragment));

  ASSERT_EQ(feed.placed.size(), feed.fed);
  EXPECT_EQ(feed.breaks(), 0);
  EXPECT_NEAR(feed.placed.back(), captureOf(fragment - 1), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, StreamTimelineStall,
    ::testing::Values(StallCase{"quickBurstAfter300Milliseconds", 0.300, 0.0005},
                      StallCase{"quickBurstAfter2Seconds", 2.0, 0.0005},
                      StallCase{"slowBurstAfter1Second", 1.0, 0.025},
                      StallCase{"burstAfterAStallOfJustAboveTheGap", 0.120, 0.001}),
    [](const auto& info) { return std::string(info.param.name); });

// After a stall, the first read takes all that waits here at once, while the
// server still holds back the rest of the backlog; that comes a moment later.
// The first read's length is not time that its lateness went on for.
TEST(StreamTimeline, ALargeFirstReadOfABacklogIsOnlyLate) {
  StreamTimeline timeline(kRate);
  std::vector<std::int64_t> frames;
  std::vector<double> placed;
  double now = 20.0;
  const auto read = [&](double seconds, double arrivedAt) {
    const auto count = static_cast<std::int64_t>(seconds * kRate);
    frames.push_back(count);
    const auto settled = starts(timeline.place(count, arrivedAt - seconds));
    placed.insert(placed.end(), settled.begin(), settled.end());
  };
  for (int i = 0; i < 20; ++i, now += 0.1) read(0.1, now + 0.1);
  now += 0.7;  // not scheduled: 800 ms of audio wait, only 400 ms of it here
  read(0.4, now);
  read(0.0375, now + 0.0015);
  now += 0.1;
  read(0.3625, now);  // the rest of the backlog, and the newest audio
  for (int i = 0; i < 10; ++i) read(0.1, now += 0.1);

  ASSERT_EQ(placed.size(), frames.size());
  for (std::size_t i = 1; i < placed.size(); ++i) {
    EXPECT_NEAR(placed[i] - placed[i - 1], static_cast<double>(frames[i - 1]) / kRate, 1e-4)
        << "read " << i;
  }
}

TEST(StreamTimeline, AGapWhoseFirstReadAlsoCameLateIsPlacedByTheReadsAfterIt) {
  Feed feed;
  placeNow(feed, 0.0);
  // The source was suspended for a second, and the first read after it
  // arrived 200 ms late besides.
  const double resumed = kFragmentSeconds + 1.0;
  feed.read(resumed + 0.200);
  for (int i = 1; i <= 20; ++i) feed.read(resumed + i * kFragmentSeconds);
  ASSERT_EQ(feed.placed.size(), feed.fed);
  EXPECT_EQ(feed.breaks(), 1);
  EXPECT_NEAR(feed.placed[1], resumed, 1e-9);
}

TEST(StreamTimeline, ReadsThatNeverSettleDownAreHeldOnlySoLong) {
  Feed feed;
  placeNow(feed, 0.0);
  // Every read disagrees with the count and with the one before it.
  std::size_t most = 0;
  for (int i = 1; i < 400; ++i) {
    feed.read(i * kFragmentSeconds + (i % 2 == 0 ? 0.5 : -0.5) + i * 0.3);
    most = std::max(most, feed.fed - feed.placed.size());
  }
  EXPECT_LE(static_cast<double>(most) * kFragmentSeconds, TimingLimits::kMaxHeldSeconds + 1e-9);
  feed.flush();
  EXPECT_EQ(feed.placed.size(), feed.fed);
}

TEST(StreamTimeline, HeldReadsAreSettledAtTheEnd) {
  {
    Feed gap;
    EXPECT_EQ(gap.flush(), 0u);
    placeNow(gap, 5.0);
    EXPECT_EQ(gap.read(7.0), 0u);
    EXPECT_EQ(gap.flush(), 1u);
    EXPECT_DOUBLE_EQ(gap.placed.back(), 7.0);  // on its own time: nothing tells otherwise
  }
  {
    Feed late;
    placeNow(late, 5.0);
    // A burst whose last read is in step again, cut short by the end.
    late.read(5.0 + 0.400);
    late.read(5.0 + 0.400);
    EXPECT_EQ(late.read(5.0 + 3 * kFragmentSeconds), 3u);
    EXPECT_EQ(late.breaks(), 0);
  }
}

TEST(StreamTimeline, EachReadComesOutWithItsOwnSamplesHeldOrNot) {
  StreamTimeline timeline(kRate);
  std::vector<StreamTimeline::Placed> placed;
  const auto read = [&](float mark, double captured) {
    auto settled = timeline.place(kFragment, captured, std::vector<float>(kFragment, mark));
    for (auto& buffer : settled) placed.push_back(std::move(buffer));
  };
  read(1.0f, 5.0);
  // A burst after a stall: held, then settled together on the count.
  read(2.0f, 5.0 + 0.400);
  read(3.0f, 5.0 + 0.400);
  read(4.0f, 5.0 + 3 * kFragmentSeconds);
  ASSERT_EQ(placed.size(), 4u);
  for (std::size_t i = 0; i < placed.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(placed[i].samples.size(), static_cast<std::size_t>(kFragment));
    EXPECT_EQ(placed[i].samples.front(), static_cast<float>(i + 1));
    EXPECT_NEAR(placed[i].startSeconds, 5.0 + static_cast<double>(i) * kFragmentSeconds, 1e-9);
  }
}

TEST(StreamTimeline, ALastingOffsetBelowTheGapIsSlewedAwayGently) {
  Feed feed;
  double previous = placeNow(feed, 0.0);
  double captured = 0.0;
  // From the second read on, every capture time lies 60 ms later.
  for (int i = 1; i < 20 * 120; ++i) {
    captured = i * kFragmentSeconds + 0.060;
    const double placed = placeNow(feed, captured);
    ASSERT_NEAR(placed - previous, kFragmentSeconds,
                kFragmentSeconds * TimingLimits::kMaxSlew + 1e-9)
        << "fragment " << i;
    previous = placed;
  }
  EXPECT_NEAR(previous, captured, TimingLimits::kDeadBandSeconds + 0.001);
}

TEST(StreamTimeline, ThreeHoursOfClockDriftNeverBreakTheTimeline) {
  // The sound card runs 100 ppm slow against the host clock: 1.08 s over
  // three hours, far beyond the gap limit if it were not absorbed.
  Feed feed;
  const double hostPerSample = 1.0001 / kRate;
  placeNow(feed, 0.0);
  const int fragments = 3 * 3600 * 20;
  double captured = 0.0;
  for (int i = 1; i < fragments; ++i) {
    captured = i * kFragment * hostPerSample;
    ASSERT_EQ(feed.read(captured), 1u) << "fragment " << i;
  }
  // No step ever moved by more than the slew limit, and the timeline has
  // followed the host clock to its dead band.
  EXPECT_EQ(feed.breaks(), 0);
  EXPECT_NEAR(feed.placed.back(), captured, TimingLimits::kDeadBandSeconds + 0.005);
}

struct FloorCase {
  const char* name;
  double capturedSeconds;  // of the first read, one fragment long
  std::int64_t leftOut;    // frames before the floor of 10.0 s
  double placedSeconds;    // where what is kept starts
};

void PrintTo(const FloorCase& floor, std::ostream* out) {
  *out << floor.name;
}

class StreamTimelineFloor : public ::testing::TestWithParam<FloorCase> {};

// The floor is where the recording started, or where the audio of the stream
// before this one ended: what lies before it is left out, and the first audio
// is placed on the host clock, behind it.
TEST_P(StreamTimelineFloor, AudioBeforeTheFloorIsLeftOutAndTheRestStartsOnTheHostClock) {
  const auto& floor = GetParam();
  StreamTimeline timeline(kRate, 10.0);
  EXPECT_DOUBLE_EQ(timeline.endSeconds(), 10.0);
  const std::int64_t leftOut = timeline.framesBeforeFloor(kFragment, floor.capturedSeconds);
  EXPECT_EQ(leftOut, floor.leftOut);
  if (leftOut == kFragment) return;
  const double kept = floor.capturedSeconds + static_cast<double>(leftOut) / kRate;
  const auto placed = starts(timeline.place(kFragment - leftOut, kept));
  ASSERT_EQ(placed.size(), 1u);
  EXPECT_NEAR(placed[0], floor.placedSeconds, 1e-9);
  EXPECT_GE(placed[0], 10.0);
  EXPECT_NEAR(timeline.endSeconds(), placed[0] + (kFragment - leftOut) / kRate, 1e-9);
  // Once anchored, nothing more is left out: a later read before the floor
  // is the timeline's own business (a jump back).
  EXPECT_EQ(timeline.framesBeforeFloor(kFragment, 9.0), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Floors, StreamTimelineFloor,
    ::testing::Values(FloorCase{"afterAGapOfTwoSeconds", 12.0, 0, 12.0},
                      FloorCase{"rightAtTheFloor", 10.0, 0, 10.0},
                      FloorCase{"startingBeforeTheFloor", 9.98, 960, 10.0},
                      FloorCase{"endingAtTheFloor", 10.0 - kFragmentSeconds, kFragment, 0.0},
                      FloorCase{"wholeSecondBeforeTheFloor", 9.0, kFragment, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StreamTimeline, WithoutAFloorNothingIsLeftOut) {
  StreamTimeline timeline(kRate);
  EXPECT_EQ(timeline.framesBeforeFloor(kFragment, -1e9), 0);
  EXPECT_DOUBLE_EQ(timeline.place(kFragment, 3.0).at(0).startSeconds, 3.0);
}

// A stream that takes over from another (the default device changed, the
// server came back) starts behind the end of the one before: a gap when it
// started later, never an overlap when its first read is measured earlier.
TEST(StreamTimeline, AStreamThatTakesOverStartsBehindTheOneBefore) {
  StreamTimeline before(kRate, 5.0);
  for (int i = 0; i < 20; ++i) before.place(kFragment, 5.0 + i * kFragmentSeconds);
  before.flush();
  const double end = before.endSeconds();
  EXPECT_NEAR(end, 6.0, 1e-9);

  for (const double firstCaptured : {6.5, 6.03, 5.97}) {
    SCOPED_TRACE(firstCaptured);
    StreamTimeline after(kRate, end);
    const std::int64_t leftOut = after.framesBeforeFloor(kFragment, firstCaptured);
    const double kept = firstCaptured + static_cast<double>(leftOut) / kRate;
    const double placed = after.place(kFragment - leftOut, kept).at(0).startSeconds;
    EXPECT_NEAR(placed, std::max(firstCaptured, end), 1e-9);
  }
}

}  // namespace
}  // namespace mirevo::platform::pulse
