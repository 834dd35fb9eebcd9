#include "platform/pulse/CaptureOrigin.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::platform::pulse {

double CaptureOrigin::originOf(const Point& point) const {
  return point.seconds - static_cast<double>(point.index) / sampleRate_;
}

double CaptureOrigin::earliestOrigin() const {
  double earliest = originOf(points_.front());
  for (const Point& point : points_) earliest = std::min(earliest, originOf(point));
  return earliest;
}

void CaptureOrigin::keep(const Point& point) {
  points_.push_back(point);
  if (points_.size() > TimingLimits::kReportsKept) points_.pop_front();
}

std::int64_t CaptureOrigin::report(double reportSeconds, double latencySeconds,
                                   std::int64_t framesWritten, std::int64_t framesRead) {
  if (framesWritten <= 0) return 0;
  const Point point{reportSeconds - latencySeconds, framesWritten + lostFrames_};
  framesRead_ = framesRead;
  if (points_.empty() || originOf(point) <= earliestOrigin() + TimingLimits::kJumpSeconds ||
      !countsLosses_) {
    // In step: whatever was doubted was a late report.
    later_.clear();
    keep(point);
    return 0;
  }
  later_.push_back(Late{point, framesRead, framesWritten});
  return laterTellLoss() ? settleLater() : 0;
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

std::int64_t CaptureOrigin::settleLater() {
  const double earliest = earliestOrigin();
  double laterOrigin = originOf(later_.front().point);
  for (const Late& late : later_) laterOrigin = std::min(laterOrigin, originOf(late.point));
  const double lost = laterOrigin - earliest;
  std::int64_t lostFrames = 0;
  if (lost < TimingLimits::kMaxLossSeconds) {
    lostFrames = std::llround(lost * sampleRate_);
    lostFrames_ += lostFrames;
  } else {
    points_.clear();  // a gap: the count starts anew
  }
  // The frames after the loss count the silence filled in for it.
  for (const Late& late : later_) keep(Point{late.point.seconds, late.point.index + lostFrames});
  later_.clear();
  return lostFrames;
}

std::optional<double> CaptureOrigin::capturedSeconds(std::int64_t index) const {
  if (points_.empty()) return std::nullopt;
  return earliestOrigin() + static_cast<double>(index) / sampleRate_;
}

void CaptureOrigin::forget() {
  points_.clear();
  later_.clear();
}

}  // namespace mirevo::platform::pulse
