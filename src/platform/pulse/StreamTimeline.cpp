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

bool StreamTimeline::disagrees(double capturedSeconds, double expectedSeconds) {
  return std::fabs(capturedSeconds - expectedSeconds) > kGapSeconds;
}

std::int64_t StreamTimeline::heldFramesBefore(std::size_t index) const {
  std::int64_t frames = 0;
  for (std::size_t i = 0; i < index; ++i) frames += held_[i].frames;
  return frames;
}

double StreamTimeline::countedTimeOfNewest() const {
  return expectedSeconds() + static_cast<double>(heldFramesBefore(held_.size() - 1)) / sampleRate_;
}

double StreamTimeline::anchorBeforeRun() const {
  return held_[runStart_].capturedSeconds -
         static_cast<double>(heldFramesBefore(runStart_)) / sampleRate_;
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

std::vector<double> StreamTimeline::place(std::int64_t frames, double capturedSeconds) {
  if (!anchored_) {
    anchor(capturedSeconds);
    return {advance(frames)};
  }
  if (held_.empty()) {
    if (!disagrees(capturedSeconds, expectedSeconds())) {
      return {placeChecked(frames, capturedSeconds)};
    }
    held_.push_back(Read{frames, capturedSeconds});
    return {};
  }
  held_.push_back(Read{frames, capturedSeconds});
  // Back in step with the count: the held reads had only been late.
  if (!disagrees(capturedSeconds, countedTimeOfNewest())) return settleHeld();

  const std::size_t newest = held_.size() - 1;
  const Read& runFirst = held_[runStart_];
  const double paceFromRun =
      runFirst.capturedSeconds +
      static_cast<double>(heldFramesBefore(newest) - heldFramesBefore(runStart_)) / sampleRate_;
  if (disagrees(capturedSeconds, paceFromRun)) runStart_ = newest;

  const bool confirmed = capturedSeconds - held_[runStart_].capturedSeconds >= kConfirmSeconds;
  const bool tooMuchHeld =
      static_cast<double>(heldFramesBefore(held_.size())) >= kMaxHeldSeconds * sampleRate_;
  if (!confirmed && !tooMuchHeld) return {};
  // A real gap before the steady run (with too much held, however short the
  // run is: its reads are the most recent measure there is).
  anchor(anchorBeforeRun());
  return settleHeld();
}

std::vector<double> StreamTimeline::flush() {
  if (held_.empty()) return {};
  if (disagrees(held_.back().capturedSeconds, countedTimeOfNewest())) anchor(anchorBeforeRun());
  return settleHeld();
}

}  // namespace mirevo::platform::pulse
