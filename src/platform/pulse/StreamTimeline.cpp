#include "platform/pulse/StreamTimeline.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

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

void StreamTimeline::slew(double difference, std::int64_t frames) {
  averageDifference_ += (difference - averageDifference_) * TimingLimits::kAveragingShare;
  if (std::fabs(averageDifference_) <= TimingLimits::kDeadBandSeconds) return;
  const double limit = TimingLimits::kMaxSlew * static_cast<double>(frames) / sampleRate_;
  const double slew = std::clamp(averageDifference_, -limit, limit);
  anchorSeconds_ += slew;
  // What the timeline moved by no longer lies between it and the reads.
  averageDifference_ -= slew;
}

double StreamTimeline::placeChecked(std::int64_t frames, double capturedSeconds) {
  const double difference = capturedSeconds - expectedSeconds();
  if (difference > TimingLimits::kGapSeconds) {
    anchor(capturedSeconds);
  } else {
    slew(difference, frames);
  }
  return advance(frames);
}

bool StreamTimeline::disagrees(double capturedSeconds, double expectedSeconds) {
  return std::fabs(capturedSeconds - expectedSeconds) > TimingLimits::kGapSeconds;
}

bool StreamTimeline::behind(double capturedSeconds, double expectedSeconds) {
  return capturedSeconds - expectedSeconds > TimingLimits::kGapSeconds;
}

void StreamTimeline::hold(std::int64_t frames, double capturedSeconds, std::vector<float> samples) {
  const std::int64_t offset = held_.empty() ? 0 : held_.back().offset + held_.back().frames;
  held_.push_back(Read{frames, capturedSeconds, offset, std::move(samples)});
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

std::vector<StreamTimeline::Placed> StreamTimeline::settleHeld() {
  std::vector<Placed> placed;
  placed.reserve(held_.size());
  for (std::size_t i = 0; i + 1 < held_.size(); ++i) {
    const double start = advance(held_[i].frames);
    placed.push_back(Placed{std::move(held_[i].samples), start});
  }
  Read newest = std::move(held_.back());
  held_.clear();
  runStart_ = 0;
  const double start = placeChecked(newest.frames, newest.capturedSeconds);
  placed.push_back(Placed{std::move(newest.samples), start});
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

std::vector<StreamTimeline::Placed> StreamTimeline::place(std::int64_t frames,
                                                          double capturedSeconds,
                                                          std::vector<float> samples) {
  std::vector<Placed> placed;
  if (!anchored_) {
    anchor(std::max(capturedSeconds, floorSeconds_));
    const double start = advance(frames);
    placed.push_back(Placed{std::move(samples), start});
    return placed;
  }
  if (held_.empty() && !behind(capturedSeconds, expectedSeconds())) {
    const double start = placeChecked(frames, capturedSeconds);
    placed.push_back(Placed{std::move(samples), start});
    return placed;
  }
  hold(frames, capturedSeconds, std::move(samples));
  if (held_.size() == 1) return {};
  // Back in step with the count: the held reads had only been late.
  if (!behind(capturedSeconds, countedTimeOfNewest())) return settleHeld();

  const Read& newest = held_.back();
  const Read& runFirst = held_[runStart_];
  const double paceFromRun =
      runFirst.capturedSeconds + static_cast<double>(newest.offset - runFirst.offset) / sampleRate_;
  if (disagrees(capturedSeconds, paceFromRun)) runStart_ = held_.size() - 1;

  const bool confirmed =
      arrivalOf(newest) - arrivalOf(held_[runStart_]) >= TimingLimits::kConfirmSeconds;
  const bool tooMuchHeld = static_cast<double>(newest.offset + newest.frames) >=
                           TimingLimits::kMaxHeldSeconds * sampleRate_;
  if (!confirmed && !tooMuchHeld) return {};
  // A real gap before the steady run (with too much held, however short the
  // run is: its reads are the most recent measure there is).
  anchor(anchorBeforeRun());
  return settleHeld();
}

std::vector<StreamTimeline::Placed> StreamTimeline::flush() {
  if (held_.empty()) return {};
  if (behind(held_.back().capturedSeconds, countedTimeOfNewest())) anchor(anchorBeforeRun());
  return settleHeld();
}

}  // namespace mirevo::platform::pulse
