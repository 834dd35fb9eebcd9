#include "platform/mac/MacAudioFormat.hpp"

namespace mirevo::platform::mac {
namespace {

// Bytes of one channel's sample: a frame holds every channel when
// interleaved, one otherwise.
std::uint32_t bytesPerChannelOf(const FormatFacts& facts) {
  const std::uint32_t perFrame = facts.interleaved ? facts.channelCount : 1;
  return perFrame == 0 ? 0 : facts.stream.bytesPerFrame / perFrame;
}

SampleType otherSampleTypeOf(const FormatFacts& facts) {
  const StreamFacts& stream = facts.stream;
  if (!stream.linearPcm ||
      (stream.formatFlags & (kFormatFlagIsFloat | kFormatFlagIsBigEndian)) != 0) {
    return SampleType::compressed;
  }
  const std::uint32_t bytes = bytesPerChannelOf(facts);
  if (stream.bitsPerChannel == 24 && bytes == 3) return SampleType::int24;
  if (stream.bitsPerChannel == 8 && bytes == 1) {
    return (stream.formatFlags & kFormatFlagIsSignedInteger) != 0 ? SampleType::int8
                                                                  : SampleType::uint8;
  }
  return SampleType::compressed;
}

SampleType sampleTypeOf(const FormatFacts& facts) {
  switch (facts.commonFormat) {
    case CommonFormat::float32:
      return SampleType::float32;
    case CommonFormat::float64:
      return SampleType::float64;
    case CommonFormat::int16:
      return SampleType::int16;
    case CommonFormat::int32:
      return SampleType::int32;
    case CommonFormat::other:
      return otherSampleTypeOf(facts);
  }
  // Values that a later system may add.
  return SampleType::compressed;
}

}  // namespace

StreamFacts streamFactsOf(const StreamDescription* description) {
  if (description == nullptr) return {};
  return {description->formatID == kFormatIdLinearPcm, description->formatFlags,
          description->bytesPerFrame, description->bitsPerChannel};
}

AudioFormat audioFormatOf(const FormatFacts& facts) {
  AudioFormat format;
  format.sampleRate = facts.sampleRate;
  format.channelCount = facts.channelCount;
  format.interleaved = facts.interleaved;
  format.sampleType = sampleTypeOf(facts);
  return format;
}

}  // namespace mirevo::platform::mac
