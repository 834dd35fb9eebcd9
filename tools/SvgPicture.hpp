// A picture of the recordings as SVG: for each source the level over time
// from the `status` events, and below it the chunk timeline with gaps marked
// red and overlaps orange.
//
// Threads: any; reads only what it is given.
#pragma once

#include <ostream>
#include <vector>

#include "InspectedRecording.hpp"

namespace mirevo::inspect {

void writeSvg(std::ostream& out, const std::vector<InspectedRecording>& recordings);

}  // namespace mirevo::inspect
