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
  if (difference > kGapSeconds) {
    anchor(capturedSeconds);
  } else {
    follow(difference, frames);
  }
  return advance(frames);
}

bool StreamTimeline::disagrees(double capturedSeconds, double expectedSeconds) {
  return std::fabs(capturedSeconds - expectedSeconds) > kGapSeconds;
}

bool StreamTimeline::behind(double capturedSeconds, double expectedSeconds) {
  return capturedSeconds - expectedSeconds > kGapSeconds;
}

void StreamTimeline::hold(std::int64_t frames, double capturedSeconds) {
  const std::int64_t offset = held_.empty() ? 0 : held_.back().offset + held_.back().frames;
  held_.push_back(Read{frames, capturedSeconds, offset});
}

double StreamTimeline::countedTimeOfNewest() const {
  return expectedSeconds() + static_cast<double>(held_.back().offset) / sampleRate_;
}

double StreamTimeline::arrivalOf(const Read& read) const {
  return read.capturedSeconds + static_cast<double>(read.frames) / sampleRate_;
}

double StreamTimeline::anchorBeforeRun() const {
  const Read& runFirst = held_[runStart_];
  return runFirst.capturedSeconds - static_cast<double>(runFirst.offset) / sampleRate_;
}

std::vector<double> StreamTimeline::settleHeld() {
  std::vector<double> placed;
  placed.reserve(held_.size());
  for (std::size_t i = 0; i + 1 < held_.size(); ++i) placed.push_back(advance(held_[i].frames));
  const Read newest = held_.back();
  held_.clear();
  runStart_ = 0;
  placed.push_back(placeChecked(newest.frames, newest.capturedSeconds));
  return placed;
}

std::int64_t StreamTimeline::framesBeforeFloor(std::int64_t frames, double capturedSeconds) const {
  if (anchored_ || !(capturedSeconds < floorSeconds_)) return 0;
  // Rounded up, so that the first frame kept is not before the floor, but not
  // for the rounding errors of the subtraction.
  const double before = std::ceil((floorSeconds_ - capturedSeconds) * sampleRate_ - 1e-6);
  return before >= static_cast<double>(frames) ? frames : static_cast<std::int64_t>(before);
}

double StreamTimeline::endSeconds() const {
  return anchored_ ? expectedSeconds() : floorSeconds_;
}

std::vector<double> StreamTimeline::place(std::int64_t frames, double capturedSeconds) {
  if (!anchored_) {
    anchor(std::max(capturedSeconds, floorSeconds_));
    return {advance(frames)};
  }
  if (held_.empty() && !behind(capturedSeconds, expectedSeconds())) {
    return {placeChecked(frames, capturedSeconds)};
  }
  hold(frames, capturedSeconds);
  if (held_.size() == 1) return {};
  // Back in step with the count: the held reads had only been late.
  if (!behind(capturedSeconds, countedTimeOfNewest())) return settleHeld();

  const Read& newest = held_.back();
  const Read& runFirst = held_[runStart_];
  const double paceFromRun =
      runFirst.capturedSeconds + static_cast<double>(newest.offset - runFirst.offset) / sampleRate_;
  if (disagrees(capturedSeconds, paceFromRun)) runStart_ = held_.size() - 1;

  const bool confirmed = arrivalOf(newest) - arrivalOf(held_[runStart_]) >= kConfirmSeconds;
  const bool tooMuchHeld =
      static_cast<double>(newest.offset + newest.frames) >= kMaxHeldSeconds * sampleRate_;
  if (!confirmed && !tooMuchHeld) return {};
  // A real gap before the steady run (with too much held, however short the
  // run is: its reads are the most recent measure there is).
  anchor(anchorBeforeRun());
  return settleHeld();
}

std::vector<double> StreamTimeline::flush() {
  if (held_.empty()) return {};
  if (behind(held_.back().capturedSeconds, countedTimeOfNewest())) anchor(anchorBeforeRun());
  return settleHeld();
}

}  // namespace mirevo::platform::pulse
