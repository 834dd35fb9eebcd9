#include "platform/pulse/StreamTimeline.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::platform::pulse {

double StreamTimeline::expectedSeconds() const {
  return anchorSeconds_ + static_cast<double>(framesSinceAnchor_) / sampleRate_;
}

void StreamTimeline::anchor(double capturedSeconds) {
  anchored_ = true;
  anchorSeconds_ = capturedSeconds;
  framesSinceAnchor_ = 0;
  averageDifference_ = 0.0;
}

double StreamTimeline::advance(std::int64_t frames) {
  const double placed = expectedSeconds();
  framesSinceAnchor_ += frames;
  return placed;
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

double StreamTimeline::placeChecked(std::int64_t frames, double capturedSeconds) {
  const double difference = capturedSeconds - expectedSeconds();
  if (std::fabs(difference) > kGapSeconds) {
    anchor(capturedSeconds);
  } else {
    follow(difference, frames);
  }
  return advance(frames);
}

StreamTimeline::Settled StreamTimeline::place(std::int64_t frames, double capturedSeconds) {
  Settled settled;
  if (!anchored_) {
    anchor(capturedSeconds);
    settled.add(advance(frames));
    return settled;
  }
  if (held_) {
    const Held held = *held_;
    held_.reset();
    const double afterHeld = expectedSeconds() + static_cast<double>(held.frames) / sampleRate_;
    // This read disagrees with the count as well: the held one began after a
    // real gap. Otherwise the held one had only been late.
    if (std::fabs(capturedSeconds - afterHeld) > kGapSeconds) anchor(held.capturedSeconds);
    settled.add(advance(held.frames));
    settled.add(placeChecked(frames, capturedSeconds));
    return settled;
  }
  if (std::fabs(capturedSeconds - expectedSeconds()) > kGapSeconds) {
    held_ = Held{frames, capturedSeconds};
    return settled;
  }
  settled.add(placeChecked(frames, capturedSeconds));
  return settled;
}

StreamTimeline::Settled StreamTimeline::flush() {
  Settled settled;
  if (!held_) return settled;
  const Held held = *held_;
  held_.reset();
  settled.add(placeChecked(held.frames, held.capturedSeconds));
  return settled;
}

}  // namespace mirevo::platform::pulse
