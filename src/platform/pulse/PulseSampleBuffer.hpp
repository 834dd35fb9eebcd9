// One fragment read from a record stream: interleaved float32 samples in the
// format the stream asked the server for, with its host-clock time.
//
// Threads: made on a libpulse loop thread, then only read (on the session's
// queue).
#pragma once

#include <vector>

#include "platform/SampleBuffer.hpp"

namespace mirevo::platform::pulse {

class PulseSampleBuffer final : public SampleBuffer {
 public:
  // `format` must be interleaved float32; `samples` holds whole frames.
  PulseSampleBuffer(const AudioFormat& format, std::vector<float> samples,
                    double presentationSeconds);

  bool dataIsReady() const override { return true; }
  std::optional<AudioFormat> formatDescription() const override { return format_; }
  std::int64_t numSamples() const override;
  std::int32_t copyPcmData(PcmBuffer& into) const override;
  double presentationSeconds() const override { return presentationSeconds_; }

  const AudioFormat& format() const { return format_; }
  // Interleaved, whole frames.
  const std::vector<float>& samples() const { return samples_; }

 private:
  AudioFormat format_;
  std::vector<float> samples_;
  double presentationSeconds_;
};

}  // namespace mirevo::platform::pulse
