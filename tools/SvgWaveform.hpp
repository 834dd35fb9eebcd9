// One source's row of the picture: its waveform envelope, one column per
// unit of width, scaled so that its loudest stretch fills the row, and the
// heartbeat's level as a thin line.
//
// Threads: any; reads only what it is given.
#pragma once

#include <ostream>

#include "Envelope.hpp"
#include "InspectedRecording.hpp"
#include "SvgLayout.hpp"

namespace mirevo::inspect::svg {

constexpr double kWaveHeight = 80;

// `envelope` may be missing (a source without audio); `microphone` chooses
// the level.
void drawWaveform(std::ostream& out, const InspectedRecording& recording, const Envelope* envelope,
                  bool microphone, const TimeAxis& axis, double top);

}  // namespace mirevo::inspect::svg
