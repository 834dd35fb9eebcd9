#include "platform/pulse/SystemMix.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace mirevo::platform::pulse {

SystemMix::SystemMix(const AudioFormat& format, HandOver handOver)
    : format_(format),
      rate_(format.sampleRate),
      channels_(std::max<std::uint32_t>(1, format.channelCount)),
      handOver_(std::move(handOver)) {
  inputs_[kDefaultInput];
}

void SystemMix::open(int input, double fromSeconds) {
  Input& opened = inputs_[input];
  opened.open = true;
  opened.reached = std::max(opened.reached, fromSeconds);
}

void SystemMix::close(int input) {
  if (input == kDefaultInput) return;
  const auto found = inputs_.find(input);
  if (found == inputs_.end()) return;
  found->second.open = false;
  release(horizon());
  forgetClosed();
}

void SystemMix::add(int input, std::shared_ptr<const PulseSampleBuffer> buffer) {
  if (!buffer || buffer->numSamples() == 0) return;
  Input& into = inputs_[input];
  const double end =
      buffer->presentationSeconds() + static_cast<double>(buffer->numSamples()) / rate_;
  into.reached = std::max(into.reached, end);
  newest_ = std::max(newest_, end);
  into.held.push_back(std::move(buffer));
  release(horizon());
}

void SystemMix::flush() {
  release(std::numeric_limits<double>::infinity());
  forgetClosed();
}

std::int64_t SystemMix::heldFrames() const {
  std::int64_t frames = 0;
  for (const auto& [id, input] : inputs_) {
    for (const auto& buffer : input.held) frames += buffer->numSamples();
    frames -= input.consumed;
  }
  return frames;
}

double SystemMix::horizon() const {
  double lowest = std::numeric_limits<double>::infinity();
  for (const auto& [id, input] : inputs_) {
    if (input.open) lowest = std::min(lowest, input.reached);
  }
  return std::max(lowest, newest_ - TimingLimits::kLateSeconds);
}

void SystemMix::release(double horizon) {
  while (releaseNext(horizon)) {
  }
}

bool SystemMix::releaseNext(double horizon) {
  // Nothing goes where audio was handed over already.
  for (auto& [id, input] : inputs_) dropLate(input);
  const Input* earliest = nullptr;
  double earliestStart = std::numeric_limits<double>::infinity();
  for (const auto& [id, input] : inputs_) {
    if (!input.held.empty() && startOf(input) < earliestStart) {
      earliestStart = startOf(input);
      earliest = &input;
    }
  }
  if (earliest == nullptr) return false;
  Input& defaultOutput = inputs_[kDefaultInput];
  // The others would go on where the mix stands, when they start close to it.
  double start = earliestStart;
  if (std::fabs(start - handedOverUntil_) <= TimingLimits::kAlignSeconds) start = handedOverUntil_;
  const double halfFrame = 0.5 / rate_;
  if (!defaultOutput.held.empty() &&
      (startOf(defaultOutput) <= earliestStart + TimingLimits::kAlignSeconds ||
       startOf(defaultOutput) <= start + halfFrame)) {
    bool released = false;
    releaseDefault(defaultOutput, horizon, released);
    return released;
  }
  // The default output has nothing here: the others come out on their own,
  // up to where the default's audio goes on.
  double end =
      std::min(horizon, earliestStart + static_cast<double>(framesLeft(*earliest)) / rate_);
  if (!defaultOutput.held.empty()) end = std::min(end, startOf(defaultOutput));
  if (std::llround((end - start) * rate_) > 0) {
    releaseOthers(start, end);
    return true;
  }
  if (end >= horizon) return false;  // more audio is to come first
  // What the earliest holds ends before where the mix stands: its time was
  // handed over already. Left there, it would hold the mix from now on.
  use(*const_cast<Input*>(earliest), framesLeft(*earliest));
  return true;
}

void SystemMix::releaseDefault(Input& input, double horizon, bool& released) {
  const double start = startOf(input);
  const std::int64_t frames = framesLeft(input);
  const double end = start + static_cast<double>(frames) / rate_;
  if (end > horizon) return;
  released = true;
  const auto& buffer = input.held.front();
  const bool othersWithin = std::any_of(inputs_.begin(), inputs_.end(), [&](const auto& entry) {
    return entry.first != kDefaultInput && !entry.second.held.empty() &&
           startOf(entry.second) < end;
  });
  if (input.consumed == 0 && !othersWithin) {
    // The default output alone: its buffer as it came.
    std::shared_ptr<const PulseSampleBuffer> whole = buffer;
    use(input, frames);
    for (auto& [id, other] : inputs_) other.continues = false;
    handedOverUntil_ = std::max(handedOverUntil_, end);
    handOver_(std::move(whole));
    return;
  }
  const auto first =
      buffer->samples().begin() +
      static_cast<std::ptrdiff_t>(static_cast<std::size_t>(input.consumed) * channels_);
  std::vector<float> samples(first, buffer->samples().end());
  use(input, frames);
  mixOthers(samples, start, kDefaultInput);
  handOver(std::move(samples), start);
}

void SystemMix::releaseOthers(double startSeconds, double endSeconds) {
  const auto frames = std::llround((endSeconds - startSeconds) * rate_);
  std::vector<float> samples(static_cast<std::size_t>(frames) * channels_, 0.0f);
  mixOthers(samples, startSeconds, kDefaultInput);
  handOver(std::move(samples), startSeconds);
}

bool SystemMix::mixOthers(std::vector<float>& samples, double startSeconds, int except) {
  bool any = false;
  for (auto& [id, input] : inputs_) {
    if (id != except && mixInto(input, samples, startSeconds)) any = true;
  }
  return any;
}

bool SystemMix::mixInto(Input& input, std::vector<float>& samples, double startSeconds) {
  const auto frames = static_cast<std::int64_t>(samples.size() / channels_);
  const auto alignFrames = std::llround(TimingLimits::kAlignSeconds * rate_);
  // Whether its samples go on where they ended in the buffer before this one.
  bool continuing =
      input.continues && std::fabs(startSeconds - handedOverUntil_) <= TimingLimits::kAlignSeconds;
  std::int64_t position = input.carry;
  bool any = false;
  while (!input.held.empty()) {
    std::int64_t at = std::llround((startOf(input) - startSeconds) * rate_);
    if (continuing && std::llabs(at - position) <= alignFrames) at = position;
    if (at >= frames) break;
    if (at < 0) {
      // Its time was handed over already.
      const std::int64_t late = std::min(-at, framesLeft(input));
      use(input, late);
      position = at + late;
      continue;
    }
    const std::int64_t count = std::min(frames - at, framesLeft(input));
    const float* from =
        input.held.front()->samples().data() + static_cast<std::size_t>(input.consumed) * channels_;
    float* to = samples.data() + static_cast<std::size_t>(at) * channels_;
    const auto values = static_cast<std::size_t>(count) * channels_;
    for (std::size_t i = 0; i < values; ++i) to[i] += from[i];
    use(input, count);
    position = at + count;
    continuing = true;
    any = true;
  }
  input.continues = any;
  input.carry = position - frames;
  return any;
}

void SystemMix::dropLate(Input& input) {
  while (!input.held.empty()) {
    const double start = startOf(input);
    // A start a little early is a timeline's slew, or the drift that
    // mixInto follows.
    if (start >= handedOverUntil_ - TimingLimits::kAlignSeconds) return;
    const std::int64_t left = framesLeft(input);
    const auto late = std::llround((handedOverUntil_ - start) * rate_);
    use(input, std::min<std::int64_t>(late, left));
  }
}

void SystemMix::use(Input& input, std::int64_t frames) {
  input.consumed += frames;
  if (input.consumed < input.held.front()->numSamples()) return;
  input.held.pop_front();
  input.consumed = 0;
}

double SystemMix::startOf(const Input& input) const {
  return input.held.front()->presentationSeconds() + static_cast<double>(input.consumed) / rate_;
}

std::int64_t SystemMix::framesLeft(const Input& input) const {
  return input.held.front()->numSamples() - input.consumed;
}

void SystemMix::handOver(std::vector<float> samples, double startSeconds) {
  const double end = startSeconds + static_cast<double>(samples.size() / channels_) / rate_;
  handedOverUntil_ = std::max(handedOverUntil_, end);
  handOver_(std::make_shared<PulseSampleBuffer>(format_, std::move(samples), startSeconds));
}

void SystemMix::forgetClosed() {
  std::erase_if(inputs_, [](const auto& entry) {
    return entry.first != kDefaultInput && !entry.second.open && entry.second.held.empty();
  });
}

}  // namespace mirevo::platform::pulse
