// Mixes a block of frames from the working buffer down to mono signed 16-bit
// samples, bit for bit the same as the one-sample-at-a-time rule:
//   sum the channels in order in single precision (8-bit input × 2^-7, the
//   unsigned kind less 128 first; 16-bit × 2^-15; packed 24-bit × 2^-23;
//   32-bit converted to float then × 2^-31), divide by the channel
//   count in single precision, clamp to [-1, 1] (NaN and infinities become 0),
//   multiply by 32767 in single precision and truncate toward zero.
// The squares of the clamped values (single-precision products) are added to
// a double sum strictly in frame order, so the level does not depend on how
// the audio was split into blocks.
//
// Threads: pure functions; any thread.
#pragma once

#include <cstdint>

#include "platform/PcmBuffer.hpp"

namespace mirevo::audio {

// Where the working buffer's samples are: the sample type the buffer offers
// and its arrays. `valid` is false for a type the converter does not take
// (64-bit float).
struct MixSource {
  enum class Kind { float32, int16, int32, int24, int8, uint8 };
  Kind kind = Kind::float32;
  const void* const* arrays = nullptr;
  std::uint32_t channels = 0;
  bool interleaved = true;
  bool valid = false;
};

// The working buffer's channel data and its sample type.
MixSource mixSourceOf(const platform::PcmBuffer& buffer);

// Converts frames [first, first + count) of `source` into `out` (count
// samples) and adds their squares to `sumOfSquares`. `source` has 1 to 32
// channels.
void mixToMono(const MixSource& source, std::int64_t first, std::int64_t count, std::int16_t* out,
               double& sumOfSquares);

}  // namespace mirevo::audio
