// A simulated sample buffer for tests: any format, frame count and timing,
// including the odd cases a real stream can hand over (not ready, no format
// description, a failing copy, an invalid presentation time, a compressed or
// float64 format; packed 24-bit and 8-bit PCM as microphones deliver it).
// Samples are stored as raw bytes in the buffer's own layout
// (one array when interleaved, one per channel otherwise), exactly as
// copyPcmData hands them to the working buffer.
//
// Threads: not synchronised; the test that builds it owns it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/AudioFormat.hpp"
#include "platform/PcmBuffer.hpp"
#include "platform/SampleBuffer.hpp"

namespace mirevo::platform::sim {

class SimSampleBuffer final : public SampleBuffer {
 public:
  // A buffer of `frames` frames of `format`, all bytes zero (silence for every
  // PCM type but unsigned 8-bit, where zero is full scale negative).
  SimSampleBuffer(const AudioFormat& format, std::int64_t frames, double presentationSeconds = 0.0)
      : format_(format), frames_(frames), presentation_(presentationSeconds) {
    const std::size_t arrays = arrayCountFor(format);
    const std::size_t perArray =
        samplesPerArrayFor(format, frames) * bytesPerSample(format.sampleType);
    arrays_.assign(arrays, std::vector<std::byte>(perArray));
  }

  // Builders from frames given channel after channel: `channels[c][f]` is the
  // sample of channel c at frame f. All channels must have the same length.
  template <typename Sample>
  static SimSampleBuffer fromChannels(const std::vector<std::vector<Sample>>& channels,
                                      double sampleRate, bool interleaved,
                                      double presentationSeconds = 0.0) {
    AudioFormat format;
    format.sampleRate = sampleRate;
    format.channelCount = static_cast<std::uint32_t>(channels.size());
    format.interleaved = interleaved;
    format.sampleType = sampleTypeOf<Sample>();
    const std::int64_t frames =
        channels.empty() ? 0 : static_cast<std::int64_t>(channels.front().size());
    SimSampleBuffer buffer(format, frames, presentationSeconds);
    for (std::size_t c = 0; c < channels.size(); ++c) {
      for (std::int64_t f = 0; f < frames; ++f) {
        buffer.setSample(static_cast<std::uint32_t>(c), f,
                         channels[c][static_cast<std::size_t>(f)]);
      }
    }
    return buffer;
  }

  // A mono buffer of the given samples.
  template <typename Sample>
  static SimSampleBuffer mono(const std::vector<Sample>& samples, double sampleRate,
                              double presentationSeconds = 0.0) {
    return fromChannels<Sample>({samples}, sampleRate, true, presentationSeconds);
  }

  // Every sample of every channel equal to `value`.
  template <typename Sample>
  static SimSampleBuffer constant(Sample value, std::int64_t frames, double sampleRate,
                                  std::uint32_t channels = 1, bool interleaved = true,
                                  double presentationSeconds = 0.0) {
    AudioFormat format;
    format.sampleRate = sampleRate;
    format.channelCount = channels;
    format.interleaved = interleaved;
    format.sampleType = sampleTypeOf<Sample>();
    SimSampleBuffer buffer(format, frames, presentationSeconds);
    for (std::uint32_t c = 0; c < channels; ++c) {
      for (std::int64_t f = 0; f < frames; ++f) buffer.setSample(c, f, value);
    }
    return buffer;
  }

  // Float32 silence.
  static SimSampleBuffer silence(std::int64_t frames, double sampleRate, std::uint32_t channels = 1,
                                 bool interleaved = true, double presentationSeconds = 0.0) {
    AudioFormat format;
    format.sampleRate = sampleRate;
    format.channelCount = channels;
    format.interleaved = interleaved;
    format.sampleType = SampleType::float32;
    return SimSampleBuffer(format, frames, presentationSeconds);
  }

  // Writes one sample; its type must match the buffer's sample type in size
  // (float, int16_t, int32_t, PackedInt24, int8_t, uint8_t or double).
  template <typename Sample>
  void setSample(std::uint32_t channel, std::int64_t frame, Sample value) {
    const std::size_t size = sizeof(Sample);
    std::byte* at = sampleAddress(channel, frame, size);
    std::memcpy(at, &value, size);
  }

  template <typename Sample>
  Sample sample(std::uint32_t channel, std::int64_t frame) const {
    Sample value;
    std::memcpy(&value,
                arrays_.at(arrayOf(channel)).data() + offsetOf(channel, frame, sizeof(Sample)),
                sizeof(Sample));
    return value;
  }

  // The odd cases.
  void setReady(bool ready) { ready_ = ready; }
  void setHasFormatDescription(bool has) { hasFormat_ = has; }
  void setCopyStatus(std::int32_t status) { copyStatus_ = status; }
  void setPresentationSeconds(double seconds) { presentation_ = seconds; }
  void setInvalidPresentationTime() { presentation_ = std::numeric_limits<double>::quiet_NaN(); }
  // Changes what the format description reports without reshaping the stored
  // samples (for a compressed format, or a rate such as NaN).
  void setSampleRate(double rate) { format_.sampleRate = rate; }
  void setSampleType(SampleType type) { format_.sampleType = type; }
  // Reports a frame count other than what is stored; copyPcmData copies only
  // what fits both.
  void setReportedFrames(std::int64_t frames) { reportedFrames_ = frames; }

  // How often copyPcmData ran.
  int copyCount() const { return copyCount_; }
  const AudioFormat& format() const { return format_; }

  bool dataIsReady() const override { return ready_; }
  std::optional<AudioFormat> formatDescription() const override {
    if (!hasFormat_) return std::nullopt;
    return format_;
  }
  std::int64_t numSamples() const override { return reportedFrames_.value_or(frames_); }

  std::int32_t copyPcmData(PcmBuffer& into) const override {
    ++copyCount_;
    if (copyStatus_ != 0) return copyStatus_;
    const std::size_t arrays = std::min(into.arrayCount(), arrays_.size());
    for (std::size_t a = 0; a < arrays; ++a) {
      const auto target = into.arrayBytes(a);
      const std::size_t bytes = std::min(target.size(), arrays_[a].size());
      if (bytes > 0) std::memcpy(target.data(), arrays_[a].data(), bytes);
    }
    return 0;
  }

  double presentationSeconds() const override { return presentation_; }

 private:
  template <typename Sample>
  static constexpr SampleType sampleTypeOf() {
    if constexpr (std::is_same_v<Sample, float>) {
      return SampleType::float32;
    } else if constexpr (std::is_same_v<Sample, std::int16_t>) {
      return SampleType::int16;
    } else if constexpr (std::is_same_v<Sample, std::int32_t>) {
      return SampleType::int32;
    } else if constexpr (std::is_same_v<Sample, PackedInt24>) {
      return SampleType::int24;
    } else if constexpr (std::is_same_v<Sample, std::int8_t>) {
      return SampleType::int8;
    } else if constexpr (std::is_same_v<Sample, std::uint8_t>) {
      return SampleType::uint8;
    } else {
      static_assert(std::is_same_v<Sample, double>, "a PCM sample type");
      return SampleType::float64;
    }
  }

  static std::size_t arrayCountFor(const AudioFormat& format) {
    return format.interleaved ? 1 : format.channelCount;
  }
  static std::size_t samplesPerArrayFor(const AudioFormat& format, std::int64_t frames) {
    const std::size_t count = frames > 0 ? static_cast<std::size_t>(frames) : 0;
    return count * (format.interleaved ? format.channelCount : 1);
  }

  std::size_t arrayOf(std::uint32_t channel) const { return format_.interleaved ? 0 : channel; }
  std::size_t offsetOf(std::uint32_t channel, std::int64_t frame, std::size_t size) const {
    const std::size_t f = static_cast<std::size_t>(frame);
    return (format_.interleaved ? f * format_.channelCount + channel : f) * size;
  }
  std::byte* sampleAddress(std::uint32_t channel, std::int64_t frame, std::size_t size) {
    return arrays_.at(arrayOf(channel)).data() + offsetOf(channel, frame, size);
  }

  AudioFormat format_;
  std::int64_t frames_;
  double presentation_;
  std::vector<std::vector<std::byte>> arrays_;
  bool ready_ = true;
  bool hasFormat_ = true;
  std::int32_t copyStatus_ = 0;
  std::optional<std::int64_t> reportedFrames_;
  mutable int copyCount_ = 0;
};

}  // namespace mirevo::platform::sim
