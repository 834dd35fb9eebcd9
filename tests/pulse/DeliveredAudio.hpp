// What a stream delivered, per output type: the samples (mono float), each
// buffer's frame count and time, and what the delegate was told. Tests wait
// on it for a condition with a bound, instead of sleeping.
//
// Threads: the outputs' queue and the libpulse loop thread write; the test's
// thread reads through the accessors, which copy under the lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CaptureService.hpp"
#include "platform/PcmBuffer.hpp"

namespace mirevo::testing {

struct DeliveredBuffer {
  std::int64_t frames = 0;
  double presentationSeconds = 0.0;
  double sampleRate = 0.0;
};

struct SourceAudio {
  std::vector<float> samples;  // channel 0 of every buffer, in order
  std::vector<DeliveredBuffer> buffers;
  double seconds() const;
};

class DeliveredAudio final : public platform::StreamOutput, public platform::StreamDelegate {
 public:
  void didOutputSampleBuffer(const platform::SampleBuffer& buffer, int outputType) override;
  void didStopWithError(const platform::Error& error) override;

  SourceAudio source(int outputType) const;
  std::vector<std::string> stopErrors() const;
  int outputCalls() const;

  // Waits until `condition` holds (checked under the lock after each
  // delivery) or `limit` passes; returns whether it held.
  bool waitFor(const std::function<bool(const DeliveredAudio&)>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // Unlocked reads for use inside a waitFor condition.
  double secondsOf(int outputType) const;
  std::int64_t framesOf(int outputType) const;
  std::size_t stopCount() const { return stopErrors_.size(); }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<int, SourceAudio> sources_;
  std::vector<std::string> stopErrors_;
  int outputCalls_ = 0;
  platform::PcmBuffer working_;
};

// The last `seconds` of `samples`.
std::vector<float> lastSeconds(const std::vector<float>& samples, double seconds,
                               double sampleRate);

}  // namespace mirevo::testing
