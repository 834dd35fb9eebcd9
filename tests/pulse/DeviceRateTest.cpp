// A device's rate against the host clock, from reports that are only ever
// late: how close the estimate comes, and how honestly it says so, at rates
// real devices have; and counts that break (a loss, a suspended device, a
// restarted stream) without fooling it.
#include "platform/pulse/DeviceRate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <vector>

#include "DriftingDevice.hpp"

namespace mirevo::platform::pulse {
namespace {

using mirevo::testing::DriftingDevice;
using mirevo::testing::ReportLateness;

constexpr double kRate = 48000.0;
// Reports come twice a second, as the reads that ask for them.
constexpr double kReportEvery = 0.5;

TEST(DeviceRate, TellsNothingBeforeTheReportsSpanEnough) {
  DriftingDevice device(kRate, 300.0);
  DeviceRate rate(kRate, true);
  for (double t = 0.5; t < DeviceRate::kMinSpanSeconds; t = device.nextReport(t, kReportEvery)) {
    rate.report(DriftingDevice::kStartSeconds + t,
                device.reportedFrames(DriftingDevice::kStartSeconds + t));
    EXPECT_FALSE(rate.estimate()) << "at " << t << " s";
  }
  EXPECT_EQ(rate.framesPerSecond(), kRate);
}

TEST(DeviceRate, FindsTheRateFromLateReportsAndKnowsHowWell) {
  struct Lateness {
    const char* name;
    ReportLateness lateness;
    bool countsLosses;
    // Where the estimate is checked against its uncertainty (from a minute
    // on: half a minute of reports may say too little of how late they
    // are), and how close it comes by the last.
    double finalPpm;
    std::vector<double> checkpoints;
  };
  const std::vector<Lateness> latenesses{
      // Late by up to a processing cycle and now and then more (PipeWire).
      {"cycle", {0.020, 0.05, 0.030, 0.0}, true, 2.0, {60.0, 120.0, 300.0}},
      // Counted a 25 ms monitor block at a time (classic PulseAudio): few
      // reports come right after a block, so the envelope is found slowly.
      {"block", {0.005, 0.0, 0.0, 0.025}, false, 3.0, {60.0, 120.0, 300.0, 600.0, 1200.0}},
  };
  for (const auto& [name, lateness, countsLosses, finalPpm, checkpoints] : latenesses) {
    for (const double ppm : {0.0, 100.0, -100.0, 300.0, -300.0, 1000.0, -1000.0}) {
      for (unsigned seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(::testing::Message() << name << " " << ppm << " ppm, seed " << seed);
        DriftingDevice device(kRate, ppm, lateness, seed);
        DeviceRate rate(kRate, countsLosses);
        std::ostringstream seen;
        std::size_t next = 0;
        for (double t = kReportEvery; next < checkpoints.size();
             t = device.nextReport(t, kReportEvery)) {
          const double now = DriftingDevice::kStartSeconds + t;
          rate.report(now, device.reportedFrames(now));
          if (t < checkpoints[next]) continue;
          ++next;
          const auto estimate = rate.estimate();
          ASSERT_TRUE(estimate) << "at " << t << " s";
          const double error = estimate->ppm - ppm;
          seen << " " << t << " s: " << error << " (±" << estimate->uncertaintyPpm << ")";
          EXPECT_LE(std::fabs(error), estimate->uncertaintyPpm) << "at " << t << " s";
        }
        const auto estimate = rate.estimate();
        EXPECT_LE(std::fabs(estimate->ppm - ppm), finalPpm);
        if (seed == 1)
          std::cout << name << " " << ppm << " ppm, error (ppm):" << seen.str() << "\n";
      }
    }
  }
}

TEST(DeviceRate, ACountThatBreaksStartsAfreshWithoutBendingTheRate) {
  struct Case {
    const char* name;
    bool countsLosses;
    // How the count differs from the device's frames from 60 s on.
    std::int64_t (*after)(std::int64_t frames, double rate);
  };
  const std::vector<Case> cases{
      // PipeWire missed two cycles of 512 frames: everything after counts
      // 21 ms early.
      {"loss", true, [](std::int64_t frames, double) { return frames - 1024; }},
      // The device was suspended for three seconds: its count stood still.
      {"suspended", false,
       [](std::int64_t frames, double rate) {
         return frames - static_cast<std::int64_t>(3.0 * rate);
       }},
      // A new stream counts from 0 again.
      {"restart", false,
       [](std::int64_t frames, double rate) {
         return frames - static_cast<std::int64_t>(60.0 * rate);
       }},
  };
  for (const auto& [name, countsLosses, after] : cases) {
    for (const double ppm : {300.0, -300.0}) {
      SCOPED_TRACE(::testing::Message() << name << " " << ppm << " ppm");
      DriftingDevice device(kRate, ppm, ReportLateness{0.004, 0.05, 0.010, 0.0});
      DeviceRate rate(kRate, countsLosses);
      for (double t = kReportEvery; t <= 240.0; t = device.nextReport(t, kReportEvery)) {
        const double now = DriftingDevice::kStartSeconds + t;
        const std::int64_t frames = device.reportedFrames(now);
        rate.report(now, t < 60.0 ? frames : after(frames, device.rate()));
      }
      const auto estimate = rate.estimate();
      ASSERT_TRUE(estimate);
      EXPECT_LE(std::fabs(estimate->ppm - ppm), 2.0) << "±" << estimate->uncertaintyPpm;
      EXPECT_LE(std::fabs(estimate->ppm - ppm), estimate->uncertaintyPpm);
    }
  }
}

TEST(DeviceRate, ReportsRightOnTimeStillLeaveTheCountsWholeFrames) {
  // Reports that are never late, every half second exactly: many of them lie
  // on the line itself, and only counting in whole frames keeps the rate
  // from being known perfectly.
  for (const double ppm : {0.0, 300.0}) {
    SCOPED_TRACE(::testing::Message() << ppm << " ppm");
    DriftingDevice device(kRate, ppm, ReportLateness{0.0, 0.0, 0.0, 0.0});
    DeviceRate rate(kRate, false);
    for (double t = kReportEvery; t <= 60.0; t += kReportEvery) {
      rate.report(DriftingDevice::kStartSeconds + t,
                  device.reportedFrames(DriftingDevice::kStartSeconds + t));
    }
    const auto estimate = rate.estimate();
    ASSERT_TRUE(estimate);
    EXPECT_TRUE(std::isfinite(estimate->ppm));
    EXPECT_GT(estimate->uncertaintyPpm, 0.0);
    EXPECT_LE(std::fabs(estimate->ppm - ppm), estimate->uncertaintyPpm);
    EXPECT_LE(std::fabs(estimate->ppm - ppm), 0.5);
  }
}

TEST(DeviceRate, ForgetsEverythingOnReset) {
  DriftingDevice device(kRate, 1000.0, ReportLateness{0.002, 0.0, 0.0, 0.0});
  DeviceRate rate(kRate, true);
  for (double t = kReportEvery; t <= 30.0; t = device.nextReport(t, kReportEvery)) {
    rate.report(DriftingDevice::kStartSeconds + t,
                device.reportedFrames(DriftingDevice::kStartSeconds + t));
  }
  ASSERT_TRUE(rate.estimate());
  rate.reset();
  EXPECT_FALSE(rate.estimate());
  EXPECT_EQ(rate.framesPerSecond(), kRate);
}

}  // namespace
}  // namespace mirevo::platform::pulse
