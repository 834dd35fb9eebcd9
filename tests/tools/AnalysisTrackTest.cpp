#include "AnalysisTrack.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

namespace mirevo::inspect {
namespace {

// Each analysis sample is the mean of the source's samples in its 1/8000 s,
// whichever way the track reads them (whole slots of six at 48 kHz from a
// slot's start, or sample by sample).
TEST(AnalysisTrack, EachSlotIsTheMeanOfTheSamplesInIt) {
  struct Case {
    std::int64_t rate;
    double startMs;
  };
  for (const Case c : {Case{48000, 10.0}, Case{48000, 10.0625}, Case{44100, 10.0}, Case{16000, 3.0},
                       Case{8000, 0.0}}) {
    std::vector<std::int16_t> samples(1000);
    for (std::size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<std::int16_t>(std::lround(20000 * std::sin(0.05 * i * i)));
    std::map<std::int64_t, std::pair<double, int>> slots;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double ms = c.startMs + static_cast<double>(i) * 1000.0 / static_cast<double>(c.rate);
      auto& [sum, count] = slots[static_cast<std::int64_t>(std::floor(ms * 8))];
      sum += samples[i];
      ++count;
    }
    AnalysisTrack track;
    track.add(c.startMs, samples, c.rate);
    const std::int64_t first = slots.begin()->first;
    ASSERT_EQ(track.end(), slots.rbegin()->first + 1) << c.rate << " Hz from " << c.startMs;
    std::vector<float> read(static_cast<std::size_t>(track.end() - first + 2));
    track.read(first - 1, read);
    EXPECT_EQ(read.front(), 0.0f);  // before the audio
    for (const auto& [slot, value] : slots) {
      const double mean = value.first / value.second / 32768.0;
      EXPECT_NEAR(read[static_cast<std::size_t>(slot - first + 1)], mean, 1e-6)
          << c.rate << " Hz from " << c.startMs << " ms, slot " << slot;
    }
  }
}

TEST(AnalysisTrack, ForgetsWhatWasDroppedAndIgnoresAudioForIt) {
  AnalysisTrack track;
  const std::vector<std::int16_t> loud(48, 16384);  // 1 ms at 48 kHz: 8 slots of 0.5
  track.add(0, loud, 48000);
  track.dropBefore(4);
  track.add(0, loud, 48000);  // late: only slots 4..7 take it
  std::vector<float> read(8);
  track.read(0, read);
  EXPECT_EQ(read, (std::vector<float>{0, 0, 0, 0, 0.5f, 0.5f, 0.5f, 0.5f}));
  track.dropBefore(100);
  EXPECT_EQ(track.end(), 100);
}

}  // namespace
}  // namespace mirevo::inspect
