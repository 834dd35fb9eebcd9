// Where the server's timing reports put a stream's frames on the host clock:
// the origin a report gives, the earliest of the recent reports, reports that
// tell nothing, gaps, and letting go of old or broken reports.
#include "platform/pulse/CaptureOrigin.hpp"

#include <gtest/gtest.h>

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
  CaptureOrigin origin(kRate);
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
    CaptureOrigin origin(kRate);
    origin.report(report.seconds, report.latencySeconds, report.written, 0);
    ASSERT_TRUE(origin.capturedSeconds(frame));
    EXPECT_NEAR(*origin.capturedSeconds(frame), captured, 1e-9);
  }
}

TEST(CaptureOrigin, TheEarliestOfTheRecentReportsCountsSinceReportsAreOnlyEverLate) {
  CaptureOrigin origin(kRate);
  // The same stream, reported 2 ms, 0.5 ms and 4 ms after its newest frame.
  origin.report(1.002, 0.0, 48000, 0);
  origin.report(2.0005, 0.0, 96000, 0);
  origin.report(3.004, 0.0, 144000, 0);
  EXPECT_NEAR(*origin.capturedSeconds(0), 0.0005, 1e-9);
}

TEST(CaptureOrigin, OldReportsAreLetGoSoThatDriftIsFollowed) {
  CaptureOrigin origin(kRate);
  origin.report(1.0, 0.0, 48000, 0);  // origin 0
  // The server's clock runs slow: each report puts frame 0 a millisecond
  // later than the one before.
  for (int i = 1; i <= static_cast<int>(CaptureOrigin::kReportsKept); ++i) {
    origin.report(1.0 + i + 0.001 * i, 0.0, 48000 * (i + 1), 0);
  }
  EXPECT_EQ(origin.reports(), CaptureOrigin::kReportsKept);
  EXPECT_NEAR(*origin.capturedSeconds(0), 0.001, 1e-9);
}

TEST(CaptureOrigin, AReportLaterThanLatenessCanExplainTellsOfAGapAndStartsAnew) {
  CaptureOrigin origin(kRate);
  origin.report(1.0005, 0.0, 48000, 0);
  origin.report(2.002, 0.0, 96000, 0);
  // The server lost 40 ms of the stream's audio: frame 0 now counts as
  // captured 40 ms later, and the earlier reports no longer hold.
  origin.report(3.0405, 0.0, 144000, 0);
  EXPECT_EQ(origin.reports(), 1u);
  EXPECT_NEAR(*origin.capturedSeconds(0), 0.0405, 1e-9);
}

TEST(CaptureOrigin, AReportCoversTheFramesReadBeforeItWasMade) {
  CaptureOrigin origin(kRate);
  EXPECT_FALSE(origin.covers(0));
  origin.report(1.0, 0.0, 48000, 45000);
  EXPECT_TRUE(origin.covers(45000));
  EXPECT_FALSE(origin.covers(45001));
}

TEST(CaptureOrigin, ForgettingLeavesNothingToTimeByUntilTheNextReport) {
  CaptureOrigin origin(kRate);
  origin.report(1.0, 0.0, 48000, 0);
  origin.forget();
  EXPECT_FALSE(origin.capturedSeconds(0));
  // After a gap of half a second the count starts from a new origin.
  origin.report(2.5, 0.0, 96000, 0);
  EXPECT_NEAR(*origin.capturedSeconds(96000), 2.5, 1e-9);
}

}  // namespace
}  // namespace mirevo::platform::pulse
