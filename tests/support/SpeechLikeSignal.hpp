// A signal that sounds, to the lag analysis, like a voice: band-limited noise
// shaped into syllables and pauses. It is defined at every moment, not only
// at sample times, so sampling it at shifted times gives an exact delayed
// copy, with any delay, growing or not. It holds no samples: a recording of
// any length costs no memory.
//
// Threads: any; no shared state.
#pragma once

#include <cstdint>

namespace mirevo::testing {

class SpeechLikeSignal {
 public:
  explicit SpeechLikeSignal(std::uint64_t seed) : seed_(seed) {}

  // The signal at `seconds` (which may be negative), within -1..1.
  double at(double seconds) const;

 private:
  double noise(std::int64_t knot) const;
  double syllable(double seconds) const;

  std::uint64_t seed_;
};

// White noise within -1..1 that depends only on `seed` and the moment.
double whiteNoiseAt(std::uint64_t seed, double seconds);

}  // namespace mirevo::testing
