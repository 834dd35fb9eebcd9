// One source's audio as a mono 16-bit WAV file: each chunk is placed at its
// time, silence fills gaps, and a chunk that overlaps earlier audio overwrites
// it. The file's rate is the first chunk's; chunks at another rate are
// resampled linearly to it. A WAV file holds at most 4 GiB of audio (about
// twelve hours at 48 kHz): a chunk that would end past that is left out, so
// that a stream with a wild time cannot fill the disk with silence.
//
// Threads: one caller at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include <sndfile.h>

#include "Event.hpp"

namespace mirevo::inspect {

class WavTrack {
 public:
  // Creates the file; throws std::runtime_error when it cannot.
  WavTrack(std::filesystem::path path, std::int64_t sampleRate);
  ~WavTrack();
  WavTrack(const WavTrack&) = delete;
  WavTrack& operator=(const WavTrack&) = delete;

  // `continues`: the chunk follows the previous one without a break, so it is
  // written right after it, free of the 1 ms rounding of `startedAtMs`.
  // False when the chunk lies past what the format can hold, and is left out.
  bool place(const AudioChunkEvent& chunk, bool continues);

  // The most frames a mono 16-bit WAV file holds: its sizes are 32-bit.
  static constexpr std::int64_t kMaxFrames = (std::int64_t{0xffffffff} - 4096) / 2;

  const std::filesystem::path& path() const { return path_; }
  std::int64_t sampleRate() const { return sampleRate_; }

 private:
  void writeAt(std::int64_t frame, std::span<const std::int16_t> samples);
  void writeSilence(std::int64_t frames);

  std::filesystem::path path_;
  std::int64_t sampleRate_;
  SNDFILE* file_ = nullptr;
  std::int64_t fileFrames_ = 0;    // frames in the file so far
  std::int64_t writeFrame_ = 0;    // where the next write lands
  std::int64_t lastChunkEnd_ = 0;  // where the last placed chunk ended
};

// `samples` at `fromRate`, linearly interpolated to `toRate`.
std::vector<std::int16_t> resampleLinear(std::span<const std::int16_t> samples,
                                         std::int64_t fromRate, std::int64_t toRate);

}  // namespace mirevo::inspect
