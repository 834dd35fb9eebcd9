// Where the server's timing reports put a stream's frames on the host clock:
// the origin a report gives, the earliest of the recent reports, reports that
// tell nothing, gaps, and letting go of old or broken reports.
#include "platform/pulse/CaptureOrigin.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace mirevo::platform::pulse {
namespace {

constexpr double kRate = 48000.0;

struct Report {
  double seconds;
  double latencySeconds;
  std::int64_t written;
};

TEST(CaptureOrigin, TimesNothingUntilAReportCountsAFrame) {
  CaptureOrigin origin(kRate, true);
  EXPECT_FALSE(origin.capturedSeconds(0));
  // A stream the server has written nothing into yet: its report tells
  // nothing of when frames are captured.
  origin.report(5.0, 0.0, 0, 0);
  EXPECT_FALSE(origin.capturedSeconds(0));
  EXPECT_EQ(origin.reports(), 0u);
}

TEST(CaptureOrigin, AFrameIsCapturedBeforeTheReportByWhatFollowsItAndTheSourcesLatency) {
  struct Case {
    Report report;
    std::int64_t frame;
    double captured;
  };
  const std::vector<Case> cases{
      // One second written by 10 s: frame 0 at 9 s, the newest one at 10 s.
      {{10.0, 0.0, 48000}, 0, 9.0},
      {{10.0, 0.0, 48000}, 48000, 10.0},
      {{10.0, 0.0, 48000}, 24000, 9.5},
      // What the source still held was captured before it reached the stream.
      {{10.0, 0.002, 48000}, 48000, 9.998},
      // A frame not written yet lies ahead of the report by its distance.
      {{10.0, 0.0, 48000}, 96000, 11.0},
  };
  for (const auto& [report, frame, captured] : cases) {
    SCOPED_TRACE(testing::Message() << "frame " << frame << " of " << report.written);
    CaptureOrigin origin(kRate, true);
    origin.report(report.seconds, report.latencySeconds, report.written, 0);
    ASSERT_TRUE(origin.capturedSeconds(frame));
    EXPECT_NEAR(*origin.capturedSeconds(frame), captured, 1e-9);
  }
}

TEST(CaptureOrigin, TheEarliestOfTheRecentReportsCountsSinceReportsAreOnlyEverLate) {
  CaptureOrigin origin(kRate, true);
  // The same stream, reported 2 ms, 0.5 ms and 4 ms after its newest frame.
  origin.report(1.002, 0.0, 48000, 0);
  origin.report(2.0005, 0.0, 96000, 0);
  origin.report(3.004, 0.0, 144000, 0);
  EXPECT_NEAR(*origin.capturedSeconds(0), 0.0005, 1e-9);
}

TEST(CaptureOrigin, OldReportsAreLetGoSoThatDriftIsFollowed) {
  CaptureOrigin origin(kRate, true);
  origin.report(1.0, 0.0, 48000, 0);  // origin 0
  // The server's clock runs slow: each report puts frame 0 a millisecond
  // later than the one before.
  for (int i = 1; i <= static_cast<int>(TimingLimits::kReportsKept); ++i) {
    origin.report(1.0 + i + 0.001 * i, 0.0, 48000 * (i + 1), 0);
  }
  EXPECT_EQ(origin.reports(), TimingLimits::kReportsKept);
  EXPECT_NEAR(*origin.capturedSeconds(0), 0.001, 1e-9);
}

// Three reports in step, a quarter of a second apart, each made 1 ms after
// the newest frame of a stream whose frame 0 was captured at 0 s; then
// reports later by `lateSeconds` (a loss of that length, or late answers),
// one for each read listed.
struct LateRun {
  const char* what;
  double lateSeconds;
  std::vector<std::int64_t> reads;  // frames read by each late report
  std::int64_t lost;                // frames the stream is told to have lost
  bool doubted;                     // still waiting for more reports
  bool followed;                    // the count moves by the lateness
};

TEST(CaptureOrigin, LateReportsAreDoubtedUntilReportsOfSeveralReadsTellALoss) {
  constexpr std::int64_t kQuarter = 12000;
  const std::vector<LateRun> runs{
      {"one late report", 0.0213, {4 * kQuarter}, 0, true, false},
      {"late reports of one read",
       0.0213,
       {4 * kQuarter, 4 * kQuarter, 4 * kQuarter},
       0,
       true,
       false},
      // Filled with 1022 frames of silence, after which the count goes on.
      {"late reports of three reads",
       0.0213,
       {4 * kQuarter, 5 * kQuarter, 6 * kQuarter},
       1022,
       false,
       true},
      {"lateness a report may have",
       0.006,
       {4 * kQuarter, 5 * kQuarter, 6 * kQuarter},
       0,
       false,
       false},
      // The count broke: nothing is filled, the origin starts anew.
      {"a gap", 0.5, {4 * kQuarter, 5 * kQuarter, 6 * kQuarter}, 0, false, true},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.what);
    CaptureOrigin origin(kRate, true);
    for (std::int64_t i = 1; i <= 3; ++i) {
      EXPECT_EQ(
          origin.report(0.001 + 0.25 * static_cast<double>(i), 0.0, i * kQuarter, i * kQuarter), 0);
    }
    std::int64_t lost = 0;
    std::int64_t written = 3 * kQuarter;
    for (const std::int64_t read : run.reads) {
      written = std::max(written + 512, read + 256);
      const double seconds = static_cast<double>(written) / kRate + 0.001 + run.lateSeconds;
      lost += origin.report(seconds, 0.0, written, read);
    }
    EXPECT_EQ(lost, run.lost);
    EXPECT_EQ(origin.lostFrames(), run.lost);
    EXPECT_EQ(origin.doubted(), run.doubted);
    // The frame written next, by its index in the recorded audio (the
    // stream's frame plus the silence filled in).
    const auto captured = origin.capturedSeconds(written + origin.lostFrames());
    ASSERT_TRUE(captured);
    const double expected =
        static_cast<double>(written) / kRate + 0.001 + (run.followed ? run.lateSeconds : 0.0);
    EXPECT_NEAR(*captured, expected, 1e-5);
  }
}

TEST(CaptureOrigin, WhereTheServerNeverDropsAudioALateReportIsOnlyLate) {
  CaptureOrigin origin(kRate, false);
  origin.report(1.001, 0.0, 48000, 48000);
  // Late by 21 ms after every read.
  for (std::int64_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(origin.report(1.022 + 0.25 * static_cast<double>(i), 0.0, 48000 + i * 12000,
                            48000 + i * 12000),
              0);
    EXPECT_FALSE(origin.doubted());
  }
  EXPECT_EQ(origin.lostFrames(), 0);
  EXPECT_NEAR(*origin.capturedSeconds(0), 0.001, 1e-9);
}

TEST(CaptureOrigin, AReportInStepEndsTheDoubt) {
  CaptureOrigin origin(kRate, true);
  origin.report(1.001, 0.0, 48000, 48000);
  // A busy server answered from an old count, then caught up.
  EXPECT_EQ(origin.report(2.016, 0.0, 96000, 96000), 0);
  EXPECT_TRUE(origin.doubted());
  EXPECT_EQ(origin.report(2.252, 0.0, 108000, 108000), 0);
  EXPECT_FALSE(origin.doubted());
  EXPECT_EQ(origin.report(2.516, 0.0, 120000, 120000), 0);
  EXPECT_EQ(origin.report(2.766, 0.0, 132000, 132000), 0);
  EXPECT_EQ(origin.lostFrames(), 0);
  EXPECT_NEAR(*origin.capturedSeconds(0), 0.001, 1e-9);
}

TEST(CaptureOrigin, AReportCoversTheFramesReadBeforeItWasMade) {
  CaptureOrigin origin(kRate, true);
  EXPECT_FALSE(origin.covers(0));
  origin.report(1.0, 0.0, 48000, 45000);
  EXPECT_TRUE(origin.covers(45000));
  EXPECT_FALSE(origin.covers(45001));
}

TEST(CaptureOrigin, ForgettingLeavesNothingToTimeByUntilTheNextReport) {
  CaptureOrigin origin(kRate, true);
  origin.report(1.0, 0.0, 48000, 0);
  origin.forget();
  EXPECT_FALSE(origin.capturedSeconds(0));
  // After a gap of half a second the count starts from a new origin.
  origin.report(2.5, 0.0, 96000, 0);
  EXPECT_NEAR(*origin.capturedSeconds(96000), 2.5, 1e-9);
}

}  // namespace
}  // namespace mirevo::platform::pulse
