// How fast a device's clock runs against the host's, from the server's timing
// reports. A report says how many frames the device had written by a moment
// of the host clock. The device's frame n was captured at t0 + n / rate, and
// a report is only ever late (by the rest of a processing cycle, a monitor
// block of 10 to 30 ms, a busy server), never early, so every report's
// origin
//   moment - frames / nominalRate
// lies on or above the line t0 + frames * (1 / rate - 1 / nominalRate). The
// line is the lower envelope of the origins: of the lower convex hull's
// edges, the one under the reports' mean frame is the line that lies under
// every report and closest to them on average (the fit that minimises the
// total lateness), so that a few reports made right on time decide it and
// however late the others are does not matter. Every report since the count
// began is weighed: the rate is known better the longer the span, to a few
// ppm over minutes, and a crystal's rate hardly changes within a recording.
//
// A count that breaks starts a new segment of reports:
// - the frames go backwards, or a report is earlier than the line by more
//   than kRestartSeconds (a restarted stream or server);
// - reports stay later than the line than any lateness explains (the
//   bounds are TimingLimits', which the placer tells losses by too): by
//   more than kGapSeconds (a suspended device whose count stood still), or,
//   where the server may drop audio it counted, by more than kJumpSeconds
//   (a PipeWire server that missed cycles), for kLossReads reports over
//   kLossSpanSeconds at least, and for as many more as it takes to rule out
//   chance where reports are often that late. One late report proves
//   nothing; until then the late ones are held aside and join the fit when
//   a report in step shows they were only late.
// The rate of every segment long enough to tell is kept, and the estimate
// weighs each by how well it is known.
//
// Threads: not synchronised; one thread uses it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/pulse/TimingLimits.hpp"

namespace mirevo::platform::pulse {

class DeviceRate {
 public:
  // A segment shorter than this tells no rate.
  static constexpr double kMinSpanSeconds = 4.0;
  static constexpr double kRestartSeconds = 0.100;
  static constexpr double kStepChance = 1e-4;
  // The margin kept on the slope's error the reports suggest.
  static constexpr double kUncertaintyMargin = 2.0;
  // Once a segment has many reports, it is fitted again when they have
  // grown by 1 / kRefitShare.
  static constexpr std::size_t kRefitShare = 64;
  // No device runs this far off; a segment that says so is left out.
  static constexpr double kMaxPpm = 5000.0;

  struct Estimate {
    // How far the device's rate is off nominal, in parts per million
    // (positive: it delivers more frames per host second).
    double ppm = 0.0;
    // How far off the estimate may be: about two standard deviations, from
    // how late the reports are and how long they span.
    double uncertaintyPpm = 0.0;
    // Host seconds the weighed reports span.
    double spanSeconds = 0.0;
  };

  // `countsLosses`: whether the server may drop audio it counted, so that a
  // lasting lateness of a few milliseconds is a loss rather than lateness.
  DeviceRate(double nominalRate, bool countsLosses)
      : nominalRate_(nominalRate), countsLosses_(countsLosses) {}

  // A report made at `hostSeconds` when the device had written `frames`.
  void report(double hostSeconds, std::int64_t frames);
  // The rate once some segment spans kMinSpanSeconds.
  std::optional<Estimate> estimate() const;
  // Frames per host second: the estimate, or the nominal rate without one.
  double framesPerSecond() const;
  // Forgets every report (another device, or a new stream of it).
  void reset();

 private:
  struct Point {
    double frames;
    double origin;  // host seconds - frames / nominal rate
    double hostSeconds;
  };
  struct Fit {
    double slope = 0.0;      // seconds of origin per frame
    double intercept = 0.0;  // origin at frame 0
    double uncertainty = 0.0;
    double spanSeconds = 0.0;
    double lateShare = 0.0;  // of reports later than a step
  };

  static std::optional<Fit> fit(const std::vector<Point>& points, double stepSeconds,
                                double nominalRate);
  double stepSeconds() const;
  double residual(const Point& point) const;
  bool stepTold() const;
  void closeSegment();
  void refit(bool now);

  double nominalRate_;
  bool countsLosses_;
  std::vector<Point> points_;  // the current segment's, frames ascending
  std::vector<Point> held_;    // late reports not yet told apart
  std::optional<Fit> current_;
  std::size_t fittedPoints_ = 0;  // how many reports current_ weighed
  // The rates of closed segments: sums of slope / uncertainty^2 and of
  // 1 / uncertainty^2, and the span they cover.
  double closedWeightedSlope_ = 0.0;
  double closedWeight_ = 0.0;
  double closedSpanSeconds_ = 0.0;
};

}  // namespace mirevo::platform::pulse
