// The per-source accumulator: converts each sample buffer to mono 16-bit PCM,
// meters its level, and cuts the audio into one-second `audio_chunk` events,
// earlier when the sample rate changes or the timing jumps by more than 100 ms.
//
// Threads: every call comes on the owning session's serial queue.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Clock.hpp"
#include "platform/SampleBuffer.hpp"

namespace mirevo {

class AudioChunks {
 public:
  // `origin` is the session's time zero on the host clock; `clock` gives the
  // uptime that `lastPacket` records.
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
};

}  // namespace mirevo
