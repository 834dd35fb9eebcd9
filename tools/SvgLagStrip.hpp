// The lag strip of the picture: each window's lag between the sources over
// the recording's time axis, the median, and the windows without a common
// sound.
//
// Threads: any; reads only what it is given.
#pragma once

#include <ostream>
#include <vector>

#include "LagEstimator.hpp"
#include "SvgLayout.hpp"

namespace mirevo::inspect::svg {

constexpr double kLagHeight = 56;

void drawLagStrip(std::ostream& out, const std::vector<LagWindow>& windows, const TimeAxis& axis,
                  double top);

}  // namespace mirevo::inspect::svg
