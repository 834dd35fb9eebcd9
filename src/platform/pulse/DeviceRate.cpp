#include "platform/pulse/DeviceRate.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::platform::pulse {
namespace {

// Whether b lies on or below the line from a to c: b then leaves the lower
// hull.
template <typename P>
bool notAbove(const P& a, const P& b, const P& c) {
  return (b.frames - a.frames) * (c.origin - a.origin) -
             (b.origin - a.origin) * (c.frames - a.frames) <=
         0.0;
}

}  // namespace

void DeviceRate::report(double hostSeconds, std::int64_t frames) {
  const Point point{static_cast<double>(frames),
                    hostSeconds - static_cast<double>(frames) / nominalRate_, hostSeconds};
  const Point* last =
      !held_.empty() ? &held_.back() : (!points_.empty() ? &points_.back() : nullptr);
  if (last != nullptr && point.frames < last->frames) {
    // The count went backwards: a new stream.
    closeSegment();
  } else if (current_ && residual(point) < -kRestartSeconds) {
    closeSegment();
  } else if (current_ && residual(point) > stepSeconds()) {
    held_.push_back(point);
    if (stepTold()) {
      std::vector<Point> after = std::move(held_);
      held_.clear();
      closeSegment();
      points_ = std::move(after);
      refit(true);
    }
    return;
  }
  // In step: whatever was held was only late.
  for (const Point& late : held_) points_.push_back(late);
  held_.clear();
  if (!points_.empty() && point.frames == points_.back().frames) {
    // Two reports of one count: the earlier origin is the less late one.
    points_.back().origin = std::min(points_.back().origin, point.origin);
  } else {
    points_.push_back(point);
  }
  refit(false);
}

double DeviceRate::residual(const Point& point) const {
  return point.origin - (current_->intercept + current_->slope * point.frames);
}

double DeviceRate::stepSeconds() const {
  return countsLosses_ ? TimingLimits::kJumpSeconds : TimingLimits::kGapSeconds;
}

bool DeviceRate::stepTold() const {
  // Reports late by more than the step come by chance as often as the
  // segment's own share of them; a run of them tells a step only when
  // chance would hardly make it (one in kStepChance).
  const double share = current_->lateShare;
  const double needed = share > 0.0 ? std::ceil(std::log(kStepChance) / std::log(share)) : 0.0;
  const auto reports = static_cast<double>(held_.size());
  return reports >= std::max<double>(TimingLimits::kLossReads, needed) &&
         held_.back().hostSeconds - held_.front().hostSeconds >= TimingLimits::kLossSpanSeconds;
}

void DeviceRate::closeSegment() {
  if (fittedPoints_ != points_.size()) refit(true);
  if (current_ && current_->spanSeconds >= kMinSpanSeconds) {
    const double weight = 1.0 / (current_->uncertainty * current_->uncertainty);
    closedWeightedSlope_ += current_->slope * weight;
    closedWeight_ += weight;
    closedSpanSeconds_ += current_->spanSeconds;
  }
  points_.clear();
  held_.clear();
  current_.reset();
  fittedPoints_ = 0;
}

void DeviceRate::refit(bool now) {
  // A fit weighs every report of the segment; once there are many, a few
  // more change it little, so it is made again only when they have grown
  // by a share.
  if (!now && current_ && points_.size() < fittedPoints_ + fittedPoints_ / kRefitShare) return;
  fittedPoints_ = points_.size();
  current_ = fit(points_, stepSeconds(), nominalRate_);
  if (current_ && std::fabs(current_->slope * nominalRate_) > kMaxPpm * 1e-6 &&
      current_->spanSeconds >= kMinSpanSeconds) {
    // No clock runs this far off: the count is not a clock's (or reports of
    // two counts were mixed). Start over.
    points_.erase(points_.begin(), points_.end() - 1);
    current_ = fit(points_, stepSeconds(), nominalRate_);
  }
}

std::optional<DeviceRate::Fit> DeviceRate::fit(const std::vector<Point>& points, double stepSeconds,
                                               double nominalRate) {
  if (points.size() < 2) return std::nullopt;
  std::vector<const Point*> hull;
  for (const Point& point : points) {
    while (hull.size() >= 2 && notAbove(*hull[hull.size() - 2], *hull.back(), point)) {
      hull.pop_back();
    }
    hull.push_back(&point);
  }
  double meanFrames = 0.0;
  for (const Point& point : points) meanFrames += point.frames;
  meanFrames /= static_cast<double>(points.size());
  std::size_t edge = 0;
  while (edge + 2 < hull.size() && hull[edge + 1]->frames < meanFrames) ++edge;
  const Point& left = *hull[edge];
  const Point& right = *hull[edge + 1];
  Fit result;
  result.slope = (right.origin - left.origin) / (right.frames - left.frames);
  result.intercept = left.origin - result.slope * left.frames;
  result.spanSeconds = points.back().hostSeconds - points.front().hostSeconds;

  // How far off the line may be: each end of it lies above the truth by
  // about as much as the least late reports near that end were late. The
  // line touches one report in each half of them; the third least late one
  // there stands for that (a few times too much where reports are often
  // nearly on time, about right where few are).
  const std::size_t half = points.size() / 2;
  const double frameSpan = points.back().frames - points.front().frames;
  if (half < 3 || frameSpan <= 0.0) {
    result.uncertainty = 1.0;
    return result;
  }
  std::vector<double> lateness;
  lateness.reserve(points.size());
  std::size_t late = 0;
  for (const Point& point : points) {
    lateness.push_back(point.origin - (result.intercept + result.slope * point.frames));
    if (lateness.back() > stepSeconds) ++late;
  }
  // Smoothed, so that a short segment neither rules chance out nor in.
  result.lateShare =
      (static_cast<double>(late) + 1.0) / (static_cast<double>(lateness.size()) + 2.0);
  const auto split = lateness.begin() + static_cast<std::ptrdiff_t>(half);
  std::nth_element(lateness.begin(), lateness.begin() + 2, split);
  std::nth_element(split, split + 2, lateness.end());
  // Counts are whole frames: neither end is known better than a frame, even
  // where reports come right on time.
  const double endErrors = std::max(lateness[2] + *(split + 2), 2.0 / nominalRate);
  result.uncertainty = kUncertaintyMargin * endErrors / (frameSpan / 2.0);
  return result;
}

std::optional<DeviceRate::Estimate> DeviceRate::estimate() const {
  double weightedSlope = closedWeightedSlope_;
  double weight = closedWeight_;
  double span = closedSpanSeconds_;
  if (current_ && current_->spanSeconds >= kMinSpanSeconds) {
    const double own = 1.0 / (current_->uncertainty * current_->uncertainty);
    weightedSlope += current_->slope * own;
    weight += own;
    span += current_->spanSeconds;
  }
  if (weight <= 0.0) return std::nullopt;
  const double slope = weightedSlope / weight;
  // origin = t0 + frames * (1 / rate - 1 / nominal)
  const double rate = 1.0 / (slope + 1.0 / nominalRate_);
  Estimate estimate;
  estimate.ppm = (rate / nominalRate_ - 1.0) * 1e6;
  estimate.uncertaintyPpm = std::sqrt(1.0 / weight) * nominalRate_ * 1e6;
  estimate.spanSeconds = span;
  return estimate;
}

double DeviceRate::framesPerSecond() const {
  const auto known = estimate();
  return known ? nominalRate_ * (1.0 + known->ppm * 1e-6) : nominalRate_;
}

void DeviceRate::reset() {
  closeSegment();
  closedWeightedSlope_ = 0.0;
  closedWeight_ = 0.0;
  closedSpanSeconds_ = 0.0;
}

}  // namespace mirevo::platform::pulse
