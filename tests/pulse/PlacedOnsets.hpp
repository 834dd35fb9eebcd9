// Where the marks of replayed or simulated reads lie in placed audio. A read
// marks a burst's onset with one full-scale sample in silence; resampled
// onto the host clock, the mark spreads over a few samples, so an onset is
// the loudest of the few samples after the first above half scale that
// follows 50 ms of quiet.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace mirevo::testing {

class PlacedOnsets {
 public:
  explicit PlacedOnsets(double rate) : rate_(rate) {}

  // Adds the onsets of mono audio whose first frame lies at `startSeconds`.
  void add(const std::vector<float>& samples, double startSeconds) {
    const auto quiet = static_cast<std::int64_t>(0.050 * rate_);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (std::fabs(samples[i]) < 0.5f) {
        ++quietFrames_;
        continue;
      }
      if (quietFrames_ >= quiet) {
        std::size_t loudest = i;
        for (std::size_t j = i; j < samples.size() && j < i + 4; ++j) {
          if (std::fabs(samples[j]) > std::fabs(samples[loudest])) loudest = j;
        }
        onsets.push_back(startSeconds + static_cast<double>(loudest) / rate_);
      }
      quietFrames_ = 0;
    }
  }

  std::vector<double> onsets;

 private:
  double rate_;
  std::int64_t quietFrames_ = 0;
};

}  // namespace mirevo::testing
