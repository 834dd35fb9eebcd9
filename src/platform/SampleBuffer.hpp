// One buffer of audio as the capture stream delivers it. The accumulator asks
// it the questions below, in this order, on the session's queue.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/AudioFormat.hpp"
#include "platform/PcmBuffer.hpp"

namespace mirevo::platform {

class SampleBuffer {
 public:
  virtual ~SampleBuffer() = default;
  // False when the buffer's data cannot be read yet.
  virtual bool dataIsReady() const = 0;
  // The buffer's audio format, or none when it has no format description.
  virtual std::optional<AudioFormat> formatDescription() const = 0;
  // Frames (samples per channel) in the buffer.
  virtual std::int64_t numSamples() const = 0;
  // Copies the whole buffer, from frame 0, into `into`, which the caller has
  // prepared for this buffer's format and frame count. Returns an OS status:
  // 0 on success.
  virtual std::int32_t copyPcmData(PcmBuffer& into) const = 0;
  // The presentation time in host-clock seconds; not finite when invalid.
  virtual double presentationSeconds() const = 0;
};

}  // namespace mirevo::platform
