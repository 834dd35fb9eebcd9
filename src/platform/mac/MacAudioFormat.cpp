#include "platform/mac/MacAudioFormat.hpp"

namespace mirevo::platform::mac {
namespace {

SampleType sampleTypeOf(CommonFormat format) {
  switch (format) {
    case CommonFormat::float32:
      return SampleType::float32;
    case CommonFormat::float64:
      return SampleType::float64;
    case CommonFormat::int16:
      return SampleType::int16;
    case CommonFormat::int32:
      return SampleType::int32;
    case CommonFormat::other:
      break;
  }
  // Also values that a later system may add.
  return SampleType::compressed;
}

}  // namespace

AudioFormat audioFormatOf(const FormatFacts& facts) {
  AudioFormat format;
  format.sampleRate = facts.sampleRate;
  format.channelCount = facts.channelCount;
  format.interleaved = facts.interleaved;
  format.sampleType = sampleTypeOf(facts.commonFormat);
  return format;
}

}  // namespace mirevo::platform::mac
