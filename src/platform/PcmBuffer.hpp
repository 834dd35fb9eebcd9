// The working PCM buffer that a sample buffer's audio is copied into before
// conversion. One lives in each accumulator and is reshaped for every buffer,
// so that a steady stream does not allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/AudioFormat.hpp"

namespace mirevo::platform {

class PcmBuffer {
 public:
  // Shapes the buffer for `frames` frames of `format`, reusing its storage.
  // False when the format cannot be held as PCM (a compressed format).
  bool prepare(const AudioFormat& format, std::int64_t frames);

  const AudioFormat& format() const { return format_; }
  std::int64_t frameLength() const { return frames_; }

  // The sample arrays: one when interleaved (frames × channels samples, frame
  // after frame), otherwise one per channel (frames samples each).
  std::size_t arrayCount() const { return arrayCount_; }
  std::span<std::byte> arrayBytes(std::size_t array);
  std::span<const std::byte> arrayBytes(std::size_t array) const;

  // The arrayCount() sample arrays of any PCM type, untyped.
  const void* const* channelData() const;
  // Channel data by sample type: a list of arrayCount() arrays, or null when
  // the buffer holds another type (all three are null for the other types).
  const float* const* floatChannelData() const;
  const std::int16_t* const* int16ChannelData() const;
  const std::int32_t* const* int32ChannelData() const;

 private:
  template <class Sample>
  void pointArrays(std::vector<const Sample*>& arrays, bool used);

  AudioFormat format_;
  std::int64_t frames_ = 0;
  std::size_t arrayBytes_ = 0;
  std::size_t arrayCount_ = 0;
  std::vector<std::byte> storage_;
  // The array starts, typed; only the list of the current sample type is kept.
  std::vector<const void*> arrays_;
  std::vector<const float*> floatArrays_;
  std::vector<const std::int16_t*> int16Arrays_;
  std::vector<const std::int32_t*> int32Arrays_;
};

}  // namespace mirevo::platform
