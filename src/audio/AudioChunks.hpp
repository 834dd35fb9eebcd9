// The per-source accumulator: converts each sample buffer to mono 16-bit PCM,
// meters its level, and cuts the audio into one-second `audio_chunk` events,
// earlier when the sample rate changes or the timing jumps by more than 100 ms.
//
// Threads: every call comes on the owning session's serial queue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/ChunkLine.hpp"
#include "platform/Clock.hpp"
#include "platform/PcmBuffer.hpp"
#include "platform/SampleBuffer.hpp"

namespace mirevo::audio {

class AudioChunks {
 public:
  // `origin` is the session's time zero on the host clock; `clock` gives the
  // uptime that `lastPacket` records. The clock must outlive the accumulator.
  AudioChunks(std::string job, std::string source, double origin, const platform::Clock& clock);

  // Converts and gathers one buffer, emitting every chunk it completes.
  // Throws platform::Error ("MirevoAudio" 1 or 2, or an OS status).
  void append(const platform::SampleBuffer& buffer);
  // Emits the audio gathered so far as one chunk; nothing when there is none.
  void flush();

  // The level of the last converted buffer, 0 to 1.
  double level() const;
  // System uptime at the end of the last successful append; 0 means never.
  double lastPacket() const;

  // Read-only views of the chunk being gathered, for tests and checks.
  std::int64_t sequence() const { return sequence_; }
  std::int64_t rate() const { return rate_; }
  double startMs() const { return startMs_; }
  std::int64_t pendingSamples() const { return static_cast<std::int64_t>(pendingSamples_); }

 private:
  // The buffer's time in ms since the origin (never negative), or none when
  // the buffer is to be dropped for want of a usable time.
  std::optional<double> bufferTimeMs(const platform::SampleBuffer& buffer) const;
  // Flushes first when the buffer cannot continue the chunk being gathered.
  void breakIfDiscontinuous(std::int64_t bufferRate, double bufferMs);
  // Converts every frame of the working buffer, cutting at each second.
  double convertAndGather();

  const std::string job_;
  const std::string source_;
  const double origin_;
  const platform::Clock& clock_;

  // The chunk being gathered: pendingSamples_ samples at the front of pcm_,
  // whose storage is kept from chunk to chunk.
  std::vector<std::int16_t> pcm_;
  std::size_t pendingSamples_ = 0;
  std::int64_t sequence_ = 0;
  std::int64_t rate_ = 48000;
  double startMs_ = 0.0;
  double level_ = 0.0;
  double lastPacket_ = 0.0;

  platform::PcmBuffer working_;
  audio::ChunkLine line_;
};

}  // namespace mirevo::audio
