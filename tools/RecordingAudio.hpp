// What the inspector keeps of one recording's audio while it reads the
// stream: each source's envelope and the lag between the sources. Bounded in
// size however long the recording; the samples themselves go on to the WAV
// files or are dropped.
#pragma once

#include <string>

#include "Envelope.hpp"
#include "LagEstimator.hpp"

namespace mirevo::inspect {

struct RecordingAudio {
  Envelope microphone;
  Envelope system;
  LagEstimator lag;

  const Envelope& envelope(const std::string& source) const {
    return source == "microphone" ? microphone : system;
  }
};

}  // namespace mirevo::inspect
