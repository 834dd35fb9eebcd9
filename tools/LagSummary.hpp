// The lag between the sources over a whole recording, from its windows: the
// median, and the drift, the change from the first windows that found a
// common sound to the last, per minute.
//
// Threads: any; reads only what it is given.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "LagEstimator.hpp"

namespace mirevo::inspect {

struct LagSummary {
  std::size_t windows = 0;
  std::size_t withCommonSound = 0;
  std::optional<double> medianMs;
  // Each the median of up to five windows at its end of the recording.
  std::optional<double> firstMs;
  std::optional<double> lastMs;
  std::optional<double> driftMsPerMinute;  // needs two groups apart in time
};

LagSummary summariseLags(const std::vector<LagWindow>& windows);

}  // namespace mirevo::inspect
