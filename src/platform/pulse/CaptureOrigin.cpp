#include "platform/pulse/CaptureOrigin.hpp"

#include <algorithm>

namespace mirevo::platform::pulse {

void CaptureOrigin::report(double reportSeconds, double latencySeconds, std::int64_t framesWritten,
                           std::int64_t framesRead) {
  if (framesWritten <= 0) return;
  const double origin =
      reportSeconds - latencySeconds - static_cast<double>(framesWritten) / sampleRate_;
  const auto earliest = std::min_element(origins_.begin(), origins_.end());
  if (earliest != origins_.end() && origin > *earliest + kJumpSeconds) origins_.clear();
  origins_.push_back(origin);
  if (origins_.size() > kReportsKept) origins_.pop_front();
  framesRead_ = framesRead;
}

std::optional<double> CaptureOrigin::capturedSeconds(std::int64_t frame) const {
  if (origins_.empty()) return std::nullopt;
  const double origin = *std::min_element(origins_.begin(), origins_.end());
  return origin + static_cast<double>(frame) / sampleRate_;
}

}  // namespace mirevo::platform::pulse
