// The audio format of a sample buffer as AVFoundation describes it (an
// AVAudioFormat's sample rate, channel count, layout and common format), in
// the platform's terms.
#pragma once

#include <cstdint>

#include "platform/AudioFormat.hpp"

namespace mirevo::platform::mac {

// AVAudioCommonFormat, with its values.
enum class CommonFormat : unsigned long {
  other = 0,
  float32 = 1,
  float64 = 2,
  int16 = 3,
  int32 = 4,
};

// What the stream description (AudioStreamBasicDescription) says of a format
// that is none of the common ones: microphones deliver packed 24-bit and
// 8-bit integers, which AVAudioFormat calls "other".
struct StreamFacts {
  bool linearPcm = false;  // mFormatID is kAudioFormatLinearPCM
  std::uint32_t formatFlags = 0;
  std::uint32_t bytesPerFrame = 0;
  std::uint32_t bitsPerChannel = 0;
};

// The fields of a stream description (AudioStreamBasicDescription) that
// StreamFacts reads.
struct StreamDescription {
  std::uint32_t formatID = 0;
  std::uint32_t formatFlags = 0;
  std::uint32_t bytesPerFrame = 0;
  std::uint32_t bitsPerChannel = 0;
};

// kAudioFormatLinearPCM, 'lpcm'.
inline constexpr std::uint32_t kFormatIdLinearPcm = 0x6C70636D;

// The facts of a description; none known (not PCM) without one.
StreamFacts streamFactsOf(const StreamDescription* description);

// The kAudioFormatFlag… bits of StreamFacts::formatFlags that matter here.
inline constexpr std::uint32_t kFormatFlagIsFloat = 1u << 0;
inline constexpr std::uint32_t kFormatFlagIsBigEndian = 1u << 1;
inline constexpr std::uint32_t kFormatFlagIsSignedInteger = 1u << 2;

struct FormatFacts {
  double sampleRate = 0.0;
  std::uint32_t channelCount = 0;
  bool interleaved = false;
  CommonFormat commonFormat = CommonFormat::other;
  StreamFacts stream;
};

// The four common formats keep their sample type. Of the others, little-endian
// integer PCM of 24 bits in 3 bytes or of 8 bits (signed or unsigned) is held
// as it is; anything else (big-endian, aligned in wider words, not PCM at all)
// cannot be held in a working buffer, so the accumulator rejects it as an
// unsupported format.
AudioFormat audioFormatOf(const FormatFacts& facts);

}  // namespace mirevo::platform::mac
