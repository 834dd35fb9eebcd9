#include "platform/mac/MacSampleBuffer.hpp"

#include <AVFoundation/AVFoundation.h>

#include <cstddef>

#include "platform/mac/BufferListShape.hpp"
#include "platform/mac/MacAudioFormat.hpp"

namespace mirevo::platform::mac {

static_assert(static_cast<unsigned long>(AVAudioOtherFormat) ==
              static_cast<unsigned long>(CommonFormat::other));
static_assert(static_cast<unsigned long>(AVAudioPCMFormatFloat32) ==
              static_cast<unsigned long>(CommonFormat::float32));
static_assert(static_cast<unsigned long>(AVAudioPCMFormatFloat64) ==
              static_cast<unsigned long>(CommonFormat::float64));
static_assert(static_cast<unsigned long>(AVAudioPCMFormatInt16) ==
              static_cast<unsigned long>(CommonFormat::int16));
static_assert(static_cast<unsigned long>(AVAudioPCMFormatInt32) ==
              static_cast<unsigned long>(CommonFormat::int32));
static_assert(kAudioFormatLinearPCM == kFormatIdLinearPcm);
static_assert(kAudioFormatFlagIsFloat == kFormatFlagIsFloat);
static_assert(kAudioFormatFlagIsBigEndian == kFormatFlagIsBigEndian);
static_assert(kAudioFormatFlagIsSignedInteger == kFormatFlagIsSignedInteger);

namespace {

// The stream description's layout, for the formats AVAudioFormat calls
// "other" (packed 24-bit and 8-bit microphones).
StreamFacts streamFactsOf(CMFormatDescriptionRef description) {
  const AudioStreamBasicDescription* stream =
      CMAudioFormatDescriptionGetStreamBasicDescription(description);
  if (stream == nullptr) return streamFactsOf(nullptr);
  const StreamDescription fields{stream->mFormatID, stream->mFormatFlags, stream->mBytesPerFrame,
                                 stream->mBitsPerChannel};
  return streamFactsOf(&fields);
}

}  // namespace

bool MacSampleBuffer::dataIsReady() const {
  return CMSampleBufferDataIsReady(buffer_);
}

std::optional<AudioFormat> MacSampleBuffer::formatDescription() const {
  CMFormatDescriptionRef description = CMSampleBufferGetFormatDescription(buffer_);
  if (description == nullptr) return std::nullopt;
  AVAudioFormat* format = [[AVAudioFormat alloc] initWithCMAudioFormatDescription:description];
  if (format == nil) return std::nullopt;
  return audioFormatOf(
      {format.sampleRate, format.channelCount, static_cast<bool>(format.isInterleaved),
       static_cast<CommonFormat>(format.commonFormat), streamFactsOf(description)});
}

std::int64_t MacSampleBuffer::numSamples() const {
  return CMSampleBufferGetNumSamples(buffer_);
}

std::int32_t MacSampleBuffer::copyPcmData(PcmBuffer& into) const {
  const auto shape = bufferListShape(into);
  if (!shape) return kParamErrorStatus;
  // A list of up to kMaxBufferListArrays buffers, on the stack.
  alignas(AudioBufferList) std::byte
      storage[offsetof(AudioBufferList, mBuffers) + kMaxBufferListArrays * sizeof(AudioBuffer)];
  auto* list = reinterpret_cast<AudioBufferList*>(storage);
  list->mNumberBuffers = static_cast<UInt32>(shape->count);
  AudioBuffer* buffers = list->mBuffers;
  for (std::size_t i = 0; i < shape->count; ++i) {
    const ArraySlice& slice = shape->arrays[i];
    buffers[i].mNumberChannels = slice.channels;
    buffers[i].mDataByteSize = slice.byteSize;
    buffers[i].mData = slice.data;
  }
  return CMSampleBufferCopyPCMDataIntoAudioBufferList(buffer_, 0, shape->frames, list);
}

double MacSampleBuffer::presentationSeconds() const {
  return CMTimeGetSeconds(CMSampleBufferGetPresentationTimeStamp(buffer_));
}

}  // namespace mirevo::platform::mac
