#include "platform/pulse/StreamTimeline.hpp"

#include <cmath>

namespace mirevo::platform::pulse {

double StreamTimeline::expectedSeconds() const {
  return anchorSeconds_ + static_cast<double>(framesSinceAnchor_) / sampleRate_;
}

double StreamTimeline::place(std::int64_t frames, std::optional<double> capturedSeconds,
                             double nowSeconds) {
  if (!anchored_) {
    if (!capturedSeconds) return nowSeconds;
    anchored_ = true;
    anchorSeconds_ = *capturedSeconds;
    framesSinceAnchor_ = 0;
  } else if (capturedSeconds) {
    const double difference = *capturedSeconds - expectedSeconds();
    if (std::fabs(difference) > kGapSeconds) {
      anchorSeconds_ = *capturedSeconds;
      framesSinceAnchor_ = 0;
    } else {
      anchorSeconds_ += difference * kAbsorbedShare;
    }
  }
  const double placed = expectedSeconds();
  framesSinceAnchor_ += frames;
  return placed;
}

}  // namespace mirevo::platform::pulse
