// The text report of an inspected stream: per recording how it ended and per
// source its chunks, audio duration, sample rates, breaks, sequence, levels
// and WAV file, and the lag between the sources (its median, its drift and
// each window's); then the other events worth knowing and every violation.
//
// Threads: any; reads only what it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "Inspector.hpp"

namespace mirevo::inspect {

void writeReport(std::ostream& out, const Inspector& inspector);

struct LevelSummary {
  double minimum = 0.0;
  double mean = 0.0;
  double maximum = 0.0;
  std::size_t samples = 0;
  std::size_t active = 0;  // heartbeats that found the source delivering
  // The elapsed seconds of the first of those, if any.
  std::optional<std::int64_t> firstActiveSeconds;
};

// The level of one source ("microphone" or "system") over the heartbeats.
LevelSummary summariseLevels(const InspectedRecording& recording, const std::string& source);

}  // namespace mirevo::inspect
