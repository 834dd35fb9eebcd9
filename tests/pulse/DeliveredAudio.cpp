#include "DeliveredAudio.hpp"

namespace mirevo::testing {

double SourceAudio::seconds() const {
  double total = 0.0;
  for (const auto& buffer : buffers)
    total += static_cast<double>(buffer.frames) / buffer.sampleRate;
  return total;
}

void DeliveredAudio::didOutputSampleBuffer(const platform::SampleBuffer& buffer, int outputType) {
  std::lock_guard lock(mutex_);
  ++outputCalls_;
  const auto format = buffer.formatDescription();
  if (!buffer.dataIsReady() || !format || format->sampleType != platform::SampleType::float32 ||
      !format->interleaved) {
    return;
  }
  const std::int64_t frames = buffer.numSamples();
  if (!working_.prepare(*format, frames) || buffer.copyPcmData(working_) != 0) return;
  auto& source = sources_[outputType];
  const float* samples = working_.floatChannelData()[0];
  for (std::int64_t f = 0; f < frames; ++f) {
    source.samples.push_back(samples[f * format->channelCount]);
  }
  source.buffers.push_back({frames, buffer.presentationSeconds(), format->sampleRate});
  changed_.notify_all();
}

void DeliveredAudio::didStopWithError(const platform::Error& error) {
  std::lock_guard lock(mutex_);
  stopErrors_.push_back(error.localizedDescription());
  changed_.notify_all();
}

SourceAudio DeliveredAudio::source(int outputType) const {
  std::lock_guard lock(mutex_);
  const auto found = sources_.find(outputType);
  return found == sources_.end() ? SourceAudio{} : found->second;
}

std::vector<std::string> DeliveredAudio::stopErrors() const {
  std::lock_guard lock(mutex_);
  return stopErrors_;
}

int DeliveredAudio::outputCalls() const {
  std::lock_guard lock(mutex_);
  return outputCalls_;
}

double DeliveredAudio::secondsOf(int outputType) const {
  const auto found = sources_.find(outputType);
  return found == sources_.end() ? 0.0 : found->second.seconds();
}

std::int64_t DeliveredAudio::framesOf(int outputType) const {
  const auto found = sources_.find(outputType);
  if (found == sources_.end()) return 0;
  std::int64_t frames = 0;
  for (const auto& buffer : found->second.buffers) frames += buffer.frames;
  return frames;
}

bool DeliveredAudio::waitFor(const std::function<bool(const DeliveredAudio&)>& condition,
                             std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return condition(*this); });
}

std::vector<float> lastSeconds(const std::vector<float>& samples, double seconds,
                               double sampleRate) {
  const auto count = static_cast<std::size_t>(seconds * sampleRate);
  if (count >= samples.size()) return samples;
  return {samples.end() - static_cast<std::ptrdiff_t>(count), samples.end()};
}

}  // namespace mirevo::testing
