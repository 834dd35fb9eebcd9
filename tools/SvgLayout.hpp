// What the parts of the inspector's SVG picture share: the drawing's width
// and margins, the time axis of a recording, and numbers as SVG text.
//
// Threads: any; plain values and functions.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <string>

namespace mirevo::inspect::svg {

constexpr double kWidth = 960;
constexpr double kLeft = 130;  // room for the row labels
constexpr double kRight = 20;
constexpr double kPlotWidth = kWidth - kLeft - kRight;

inline std::string format(const char* pattern, double value) {
  char text[32];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

inline std::string number(double value) {
  return format("%.1f", value);
}

// Maps milliseconds of a recording onto the drawing's x axis.
class TimeAxis {
 public:
  explicit TimeAxis(double spanMs) : spanMs_(std::max(spanMs, 1000.0)) {}
  double x(double ms) const { return kLeft + ms / spanMs_ * kPlotWidth; }
  double spanMs() const { return spanMs_; }

  // A tick step in seconds that gives at most a dozen ticks.
  double tickSeconds() const {
    for (const double step : std::array{1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 120.0, 300.0, 600.0})
      if (spanMs_ / 1000.0 / step <= 12) return step;
    return 1800.0;
  }

 private:
  double spanMs_;
};

}  // namespace mirevo::inspect::svg
