// A working PCM buffer as the audio buffer list that Core Media copies a
// sample buffer's audio into: one buffer per sample array, each with its
// channel count, byte size and start, and the frame count of the copy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/PcmBuffer.hpp"

namespace mirevo::platform::mac {

// The most arrays a list holds: one per channel, and the accumulator takes
// at most 32 channels.
inline constexpr std::size_t kMaxBufferListArrays = 32;

// The status of a copy that cannot be made into the buffer as it is shaped
// (Core Audio's parameter error).
inline constexpr std::int32_t kParamErrorStatus = -50;

struct ArraySlice {
  std::uint32_t channels = 0;
  std::uint32_t byteSize = 0;
  void* data = nullptr;
};

struct BufferListShape {
  std::int32_t frames = 0;
  std::size_t count = 0;
  std::array<ArraySlice, kMaxBufferListArrays> arrays{};
};

// None when the list cannot describe the buffer: more than
// kMaxBufferListArrays arrays, an array of 4 GiB or more, or more frames
// than a copy takes (2^31 - 1).
std::optional<BufferListShape> bufferListShape(PcmBuffer& buffer);

}  // namespace mirevo::platform::mac
