#include "platform/pulse/RateFollower.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::platform::pulse {

RateFollower::RateFollower(std::size_t channels, double nominalRate, bool countsLosses)
    : channels_(std::max<std::size_t>(1, channels)),
      nominalRate_(nominalRate),
      rate_(nominalRate, countsLosses),
      resampler_(channels_) {}

void RateFollower::report(double hostSeconds, std::int64_t frames) {
  rate_.report(hostSeconds, frames);
}

double RateFollower::timeErrorSeconds() const {
  return position_ / rate_.framesPerSecond() - static_cast<double>(outputFrames_) / nominalRate_;
}

std::span<const float> RateFollower::follow(std::span<const float> input) {
  const auto frames = static_cast<std::int64_t>(input.size() / channels_);
  if (!resampler_.started() && shouldEngage()) engage();
  if (!resampler_.started()) {
    keepTail(input);
    inputFrames_ += frames;
    outputFrames_ += frames;
    position_ += static_cast<double>(frames);
    return input;
  }
  steer(frames);
  output_.clear();
  const double ratio = resampler_.ratio();
  const std::size_t made = resampler_.process(input, output_);
  inputFrames_ += frames;
  outputFrames_ += static_cast<std::int64_t>(made);
  position_ += static_cast<double>(made) * ratio;
  return output_;
}

bool RateFollower::shouldEngage() const {
  const auto estimate = rate_.estimate();
  if (!estimate || std::fabs(estimate->ppm) <= kEngageMargin * estimate->uncertaintyPpm) {
    return false;
  }
  return std::fabs(timeErrorSeconds()) > kEngageSeconds;
}

void RateFollower::engage() {
  // The first output frame lies a fraction of a frame after the audio
  // passed through.
  position_ += resampler_.start(1.0, tail_);
  tail_.clear();
  tail_.shrink_to_fit();
}

void RateFollower::steer(std::int64_t frames) {
  // Behind by the error (fewer frames out than the input's time): less input
  // per output frame makes more of them.
  const double correction =
      std::clamp(timeErrorSeconds() / kCorrectionSeconds, -kMaxCorrection, kMaxCorrection);
  // No device runs further off than DeviceRate believes; whatever the
  // estimate, the ratio stays within that.
  const double limit = DeviceRate::kMaxPpm * 1e-6 + kMaxCorrection;
  const double target = std::clamp(rate_.framesPerSecond() / nominalRate_ * (1.0 - correction),
                                   1.0 - limit, 1.0 + limit);
  const double step = kMaxRatioChange * static_cast<double>(frames) / nominalRate_;
  const double now = resampler_.ratio();
  resampler_.setRatio(std::clamp(target, now - step, now + step));
}

void RateFollower::keepTail(std::span<const float> input) {
  const std::size_t keep = resampler_.historyFrames() * channels_;
  if (input.size() >= keep) {
    tail_.assign(input.end() - static_cast<std::ptrdiff_t>(keep), input.end());
    return;
  }
  tail_.insert(tail_.end(), input.begin(), input.end());
  if (tail_.size() > keep) {
    tail_.erase(tail_.begin(), tail_.end() - static_cast<std::ptrdiff_t>(keep));
  }
}

void RateFollower::reset() {
  rate_.reset();
  resampler_.stop();
  inputFrames_ = 0;
  outputFrames_ = 0;
  position_ = 0.0;
  tail_.clear();
  output_.clear();
}

}  // namespace mirevo::platform::pulse
