#include "platform/mac/BufferListShape.hpp"

#include <limits>

namespace mirevo::platform::mac {

std::optional<BufferListShape> bufferListShape(PcmBuffer& buffer) {
  const AudioFormat& format = buffer.format();
  if (buffer.arrayCount() > kMaxBufferListArrays ||
      buffer.frameLength() > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  BufferListShape shape;
  shape.frames = static_cast<std::int32_t>(buffer.frameLength());
  shape.count = buffer.arrayCount();
  // Interleaved: one array holds every channel; otherwise one channel each.
  const std::uint32_t channels = format.interleaved ? format.channelCount : 1;
  for (std::size_t i = 0; i < shape.count; ++i) {
    const auto bytes = buffer.arrayBytes(i);
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    shape.arrays[i] = {channels, static_cast<std::uint32_t>(bytes.size()), bytes.data()};
  }
  return shape;
}

}  // namespace mirevo::platform::mac
