// A sample buffer that ScreenCaptureKit delivered, answering the
// accumulator's questions through Core Media and AVFoundation. The audio is
// copied straight into the working buffer's arrays, described as an audio
// buffer list.
//
// It does not retain the buffer: it lives only for the one output callback
// that received it. Objective-C++ only. Threads: the session's queue.
#pragma once

#include <CoreMedia/CoreMedia.h>

#include "platform/SampleBuffer.hpp"

namespace mirevo::platform::mac {

class MacSampleBuffer final : public SampleBuffer {
 public:
  explicit MacSampleBuffer(CMSampleBufferRef buffer) : buffer_(buffer) {}

  bool dataIsReady() const override;
  // None also when AVFoundation makes no format of the description.
  std::optional<AudioFormat> formatDescription() const override;
  std::int64_t numSamples() const override;
  std::int32_t copyPcmData(PcmBuffer& into) const override;
  double presentationSeconds() const override;

 private:
  CMSampleBufferRef buffer_;
};

}  // namespace mirevo::platform::mac
