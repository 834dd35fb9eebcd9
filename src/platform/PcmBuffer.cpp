#include "platform/PcmBuffer.hpp"

namespace mirevo::platform {

std::size_t bytesPerSample(SampleType type) {
  switch (type) {
    case SampleType::int8:
    case SampleType::uint8:
      return 1;
    case SampleType::int16:
      return 2;
    case SampleType::int24:
      return 3;
    case SampleType::float32:
    case SampleType::int32:
      return 4;
    case SampleType::float64:
      return 8;
    case SampleType::compressed:
      return 0;
  }
  return 0;
}

template <class Sample>
void PcmBuffer::pointArrays(std::vector<const Sample*>& arrays, bool used) {
  arrays.clear();
  if (!used) return;
  for (std::size_t i = 0; i < arrayCount_; ++i) {
    arrays.push_back(reinterpret_cast<const Sample*>(storage_.data() + i * arrayBytes_));
  }
}

bool PcmBuffer::prepare(const AudioFormat& format, std::int64_t frames) {
  const std::size_t sampleBytes = bytesPerSample(format.sampleType);
  if (sampleBytes == 0 || frames < 0) return false;
  format_ = format;
  frames_ = frames;
  const std::size_t arrayCount = format.interleaved ? 1 : format.channelCount;
  const std::size_t samplesPerArray =
      static_cast<std::size_t>(frames) * (format.interleaved ? format.channelCount : 1);
  arrayBytes_ = samplesPerArray * sampleBytes;
  if (storage_.size() < arrayBytes_ * arrayCount) storage_.resize(arrayBytes_ * arrayCount);
  arrayCount_ = arrayCount;
  pointArrays(arrays_, true);
  pointArrays(floatArrays_, format.sampleType == SampleType::float32);
  pointArrays(int16Arrays_, format.sampleType == SampleType::int16);
  pointArrays(int32Arrays_, format.sampleType == SampleType::int32);
  return true;
}

std::span<std::byte> PcmBuffer::arrayBytes(std::size_t array) {
  return {storage_.data() + array * arrayBytes_, arrayBytes_};
}

std::span<const std::byte> PcmBuffer::arrayBytes(std::size_t array) const {
  return {storage_.data() + array * arrayBytes_, arrayBytes_};
}

const void* const* PcmBuffer::channelData() const {
  return arrays_.data();
}

const float* const* PcmBuffer::floatChannelData() const {
  return floatArrays_.empty() ? nullptr : floatArrays_.data();
}

const std::int16_t* const* PcmBuffer::int16ChannelData() const {
  return int16Arrays_.empty() ? nullptr : int16Arrays_.data();
}

const std::int32_t* const* PcmBuffer::int32ChannelData() const {
  return int32Arrays_.empty() ? nullptr : int32Arrays_.data();
}

}  // namespace mirevo::platform
