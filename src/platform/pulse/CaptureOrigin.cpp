#include "platform/pulse/CaptureOrigin.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::platform::pulse {

void CaptureOrigin::keep(double origin) {
  origins_.push_back(origin);
  if (origins_.size() > TimingLimits::kReportsKept) origins_.pop_front();
}

std::int64_t CaptureOrigin::report(double reportSeconds, double latencySeconds,
                                   std::int64_t framesWritten, std::int64_t framesRead) {
  if (framesWritten <= 0) return 0;
  const double origin = reportSeconds - latencySeconds -
                        static_cast<double>(framesWritten + lostFrames_) / sampleRate_;
  framesRead_ = framesRead;
  const auto earliest = std::min_element(origins_.begin(), origins_.end());
  if (earliest == origins_.end() || origin <= *earliest + TimingLimits::kJumpSeconds ||
      !countsLosses_) {
    // In step: whatever was doubted was a late report.
    later_.clear();
    keep(origin);
    return 0;
  }
  later_.push_back(Late{origin, framesRead, framesWritten});
  return laterTellLoss() ? takeLoss() : 0;
}

bool CaptureOrigin::laterTellLoss() const {
  // Reports of one read, or of one busy moment of the server's, may all be
  // late alike.
  std::size_t reads = 1;
  for (std::size_t i = 1; i < later_.size(); ++i) {
    if (later_[i].framesRead != later_[i - 1].framesRead) ++reads;
  }
  const auto span = static_cast<double>(later_.back().framesWritten - later_.front().framesWritten);
  return reads >= TimingLimits::kLossReads && span >= TimingLimits::kLossSpanSeconds * sampleRate_;
}

std::int64_t CaptureOrigin::takeLoss() {
  const double earliest = *std::min_element(origins_.begin(), origins_.end());
  double laterOrigin = later_.front().origin;
  for (const Late& late : later_) laterOrigin = std::min(laterOrigin, late.origin);
  const double lost = laterOrigin - earliest;
  std::int64_t lostFrames = 0;
  if (lost < TimingLimits::kMaxLossSeconds) {
    lostFrames = std::llround(lost * sampleRate_);
    lostFrames_ += lostFrames;
  } else {
    origins_.clear();  // a gap: the count starts anew
  }
  const double moved = static_cast<double>(lostFrames) / sampleRate_;
  for (const Late& late : later_) keep(late.origin - moved);
  later_.clear();
  return lostFrames;
}

std::optional<double> CaptureOrigin::capturedSeconds(std::int64_t index) const {
  if (origins_.empty()) return std::nullopt;
  const double origin = *std::min_element(origins_.begin(), origins_.end());
  return origin + static_cast<double>(index) / sampleRate_;
}

void CaptureOrigin::forget() {
  origins_.clear();
  later_.clear();
}

}  // namespace mirevo::platform::pulse
