#include "platform/pulse/PulseSampleBuffer.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace mirevo::platform::pulse {
namespace {

// The status of a copy into a working buffer of another shape.
constexpr std::int32_t kShapeMismatchStatus = -50;

}  // namespace

PulseSampleBuffer::PulseSampleBuffer(const AudioFormat& format, std::vector<float> samples,
                                     double presentationSeconds)
    : format_(format), samples_(std::move(samples)), presentationSeconds_(presentationSeconds) {}

std::int64_t PulseSampleBuffer::numSamples() const {
  return static_cast<std::int64_t>(samples_.size() /
                                   std::max<std::uint32_t>(1, format_.channelCount));
}

std::int32_t PulseSampleBuffer::copyPcmData(PcmBuffer& into) const {
  const std::size_t bytes = samples_.size() * sizeof(float);
  if (into.arrayCount() != 1 || into.format().sampleType != SampleType::float32 ||
      into.arrayBytes(0).size() != bytes) {
    return kShapeMismatchStatus;
  }
  std::memcpy(into.arrayBytes(0).data(), samples_.data(), bytes);
  return 0;
}

}  // namespace mirevo::platform::pulse
