// Writes the event stream of one recording of both sources as the agent
// writes it (`status` every second, one-second `audio_chunk`s of each source,
// `completed`), with each source's audio given as a function of time. For
// the inspector's tests and benchmark.
//
// Threads: plain functions; any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>

namespace mirevo::testing {

struct TwoSourceRecording {
  double seconds = 10;  // whole seconds
  std::int64_t sampleRate = 48000;
  // Each source's audio, -1..1, at a moment in seconds from the start.
  std::function<double(double)> microphone;
  std::function<double(double)> system;
};

void writeTwoSourceStream(std::ostream& out, const TwoSourceRecording& recording);

}  // namespace mirevo::testing
