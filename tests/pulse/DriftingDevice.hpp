// A device whose clock runs off the host's, as a server's timing reports
// tell it, for the rate follower's tests: its frame n is captured at
// startSeconds + n / rate() on the host clock, and each report counts the
// frames written by a moment somewhat before the report was made (the rest
// of a processing cycle, now and then a monitor block more), or counts them
// a block at a time as a classic server's monitor does.
//
// Threads: the test's thread.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace mirevo::testing {

struct ReportLateness {
  // Every report is late by up to this much, evenly spread.
  double upToSeconds = 0.020;
  // This share of them by up to `outlierSeconds` more.
  double outlierShare = 0.05;
  double outlierSeconds = 0.030;
  // When above 0, the count goes up a whole block at a time.
  double blockSeconds = 0.0;
};

class DriftingDevice {
 public:
  DriftingDevice(double nominalRate, double ppm, ReportLateness lateness = {}, unsigned seed = 1)
      : nominalRate_(nominalRate), ppm_(ppm), lateness_(lateness), random_(seed) {}

  static constexpr double kStartSeconds = 1000.0;

  double rate() const { return nominalRate_ * (1.0 + ppm_ * 1e-6); }
  // When frame `frame` was captured, on the host clock.
  double capturedSeconds(double frame) const { return kStartSeconds + frame / rate(); }
  // When the report after one made at `hostSeconds` comes: about every
  // `everySeconds`, give or take a tenth (reads come when the server sends
  // them, and this process is not always scheduled at once).
  double nextReport(double hostSeconds, double everySeconds) {
    std::uniform_real_distribution<double> share(0.9, 1.1);
    return hostSeconds + everySeconds * share(random_);
  }
  // The count a report made at `hostSeconds` gives.
  std::int64_t reportedFrames(double hostSeconds) {
    std::uniform_real_distribution<double> share(0.0, 1.0);
    double late = lateness_.upToSeconds * share(random_);
    if (share(random_) < lateness_.outlierShare) late += lateness_.outlierSeconds * share(random_);
    double frames = std::floor((hostSeconds - late - kStartSeconds) * rate());
    if (lateness_.blockSeconds > 0.0) {
      const double block = std::round(lateness_.blockSeconds * nominalRate_);
      frames = std::floor(frames / block) * block;
    }
    return frames < 0.0 ? 0 : static_cast<std::int64_t>(frames);
  }

 private:
  double nominalRate_;
  double ppm_;
  ReportLateness lateness_;
  std::mt19937 random_;
};

}  // namespace mirevo::testing
