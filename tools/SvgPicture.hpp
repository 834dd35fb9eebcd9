// A picture of the recordings as SVG, on one time axis per recording: for
// each source its waveform envelope (a fixed number of columns, however long
// the recording) with the level from the `status` events as a thin line, and
// below it the chunk timeline with gaps marked red and overlaps orange; then
// a strip of the lag between the sources, window by window.
//
// Threads: any; reads only what it is given.
#pragma once

#include <ostream>

#include "Inspector.hpp"

namespace mirevo::inspect {

void writeSvg(std::ostream& out, const Inspector& inspector);

}  // namespace mirevo::inspect
