// Which sine tones a stretch of recorded audio holds, and how loud: the
// tests' way to tell from which device a recording came.
//
// The stretch is cut into blocks of 50 ms; in each block a Goertzel filter
// (over a Hann window) gives the power at every asked frequency, and the
// powers are summed over the blocks. A tone's level is compared with the
// stretch's own RMS. Summing powers rather than one filter over the whole
// stretch keeps the result steady when a starved player drops out: silence
// adds nothing to either side of the comparison, and the tone resuming at
// another phase cancels nothing. Blocks quieter than -60 dBFS (a dropout, or
// silence before a player starts) count as silent and are left out of the
// levels.
//
// Threads: any; no shared state.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace mirevo::testing {

struct ToneLevels {
  // The RMS of the stretch's sounding blocks, in full scale (a full-scale
  // sine has 0.707); 0 when nothing sounds.
  double stretchRms = 0.0;
  // The RMS of each asked frequency's component over the same blocks, in the
  // order asked.
  std::vector<double> toneRms;
  // Seconds of the stretch that sounded, and its whole length.
  double soundingSeconds = 0.0;
  double seconds = 0.0;

  // Tone `index` relative to the stretch's RMS in dB: 0 when the stretch is
  // that tone alone, -3 for one of two equally loud tones; -infinity when
  // nothing sounds.
  double relativeDb(std::size_t index) const;
  // "440 Hz -0.1 dB, 880 Hz -62.3 dB of -9.0 dBFS (0.95 of 1.00 s sounding)".
  std::string describe(const std::vector<double>& hertz) const;
};

// The levels of each frequency in `hertz` in a stretch of samples at
// `sampleRate` (16-bit samples are read as value / 32768).
ToneLevels toneLevels(std::span<const std::int16_t> samples, double sampleRate,
                      const std::vector<double>& hertz);
ToneLevels toneLevels(std::span<const float> samples, double sampleRate,
                      const std::vector<double>& hertz);

// A tone is present at no less than -10 dB relative to the stretch (two
// equally loud tones are both present, at -3 dB each), and absent at no more
// than -20 dB. A silent stretch holds no tone: every tone is absent from it.
inline constexpr double kPresentDb = -10.0;
inline constexpr double kAbsentDb = -20.0;

// Whether every tone of `hertz` is present in the stretch; the failure
// message gives every level.
::testing::AssertionResult tonesPresent(std::span<const std::int16_t> samples, double sampleRate,
                                        const std::vector<double>& hertz);
::testing::AssertionResult tonesPresent(std::span<const float> samples, double sampleRate,
                                        const std::vector<double>& hertz);
// Whether every tone of `hertz` is absent from the stretch.
::testing::AssertionResult tonesAbsent(std::span<const std::int16_t> samples, double sampleRate,
                                       const std::vector<double>& hertz);
::testing::AssertionResult tonesAbsent(std::span<const float> samples, double sampleRate,
                                       const std::vector<double>& hertz);

}  // namespace mirevo::testing
