#include "platform/pulse/StreamTimeline.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::platform::pulse {

double StreamTimeline::expectedSeconds() const {
  return anchorSeconds_ + static_cast<double>(framesSinceAnchor_) / sampleRate_;
}

void StreamTimeline::follow(double difference, std::int64_t frames) {
  averageDifference_ += (difference - averageDifference_) * kAveragingShare;
  if (std::fabs(averageDifference_) <= kDeadBandSeconds) return;
  const double limit = kMaxSlew * static_cast<double>(frames) / sampleRate_;
  const double slew = std::clamp(averageDifference_, -limit, limit);
  anchorSeconds_ += slew;
  // What the timeline moved by no longer lies between it and the reads.
  averageDifference_ -= slew;
}

double StreamTimeline::place(std::int64_t frames, double capturedSeconds) {
  if (!anchored_) {
    anchored_ = true;
    anchorSeconds_ = capturedSeconds;
    framesSinceAnchor_ = 0;
  } else {
    const double difference = capturedSeconds - expectedSeconds();
    if (std::fabs(difference) > kGapSeconds) {
      anchorSeconds_ = capturedSeconds;
      framesSinceAnchor_ = 0;
      averageDifference_ = 0.0;
    } else {
      follow(difference, frames);
    }
  }
  const double placed = expectedSeconds();
  framesSinceAnchor_ += frames;
  return placed;
}

}  // namespace mirevo::platform::pulse
