#include "SvgLagStrip.hpp"

#include <algorithm>
#include <utility>

#include "LagSummary.hpp"

namespace mirevo::inspect::svg {
namespace {

// The range the strip shows: every lag found, at least 2 ms, with a margin.
std::pair<double, double> lagRange(const std::vector<LagWindow>& windows) {
  double low = 0;
  double high = 0;
  bool any = false;
  for (const LagWindow& window : windows) {
    if (!window.lagMs) continue;
    low = any ? std::min(low, *window.lagMs) : *window.lagMs;
    high = any ? std::max(high, *window.lagMs) : *window.lagMs;
    any = true;
  }
  const double middle = (low + high) / 2;
  const double half = std::max(1.0, (high - low) / 2) * 1.2;
  return {middle - half, middle + half};
}

// Each window's lag as a dot, darker the more confident; windows without a
// common sound as grey marks along the bottom; the median as a dashed line.
}  // namespace

void drawLagStrip(std::ostream& out, const std::vector<LagWindow>& windows, const TimeAxis& axis,
                  double top) {
  out << "<rect x=\"" << kLeft << "\" y=\"" << top << "\" width=\"" << kWidth - kLeft - kRight
      << "\" height=\"" << kLagHeight << "\" fill=\"#f8f4ee\"/>\n"
      << "<text x=\"8\" y=\"" << top + 16 << "\" font-size=\"12\">lag, ms</text>\n"
      << "<text x=\"8\" y=\"" << top + 30
      << "\" font-size=\"10\" fill=\"#555\">microphone after</text>\n"
      << "<text x=\"8\" y=\"" << top + 42 << "\" font-size=\"10\" fill=\"#555\">system</text>\n";
  const LagSummary summary = summariseLags(windows);
  if (!summary.medianMs) {
    out << "<text x=\"" << kLeft + 8 << "\" y=\"" << top + kLagHeight / 2 + 4
        << "\" font-size=\"11\" fill=\"#555\">no common sound</text>\n";
  }
  // Plain names: clang before 16 captures no structured binding in a lambda.
  const std::pair<double, double> range = lagRange(windows);
  const double low = range.first;
  const double high = range.second;
  const auto y = [&](double ms) {
    return top + kLagHeight - (ms - low) / (high - low) * kLagHeight;
  };
  if (summary.medianMs) {
    out << "<line x1=\"" << kLeft << "\" y1=\"" << number(y(*summary.medianMs)) << "\" x2=\""
        << kWidth - kRight << "\" y2=\"" << number(y(*summary.medianMs))
        << "\" stroke=\"#b85\" stroke-dasharray=\"4 3\"/>\n"
        << "<text x=\"8\" y=\"" << top + 54 << "\" font-size=\"10\" fill=\"#b85\">median "
        << format("%+.2f", *summary.medianMs) << "</text>\n";
    for (const double ms : {high, low}) {
      out << "<text x=\"" << kLeft - 4 << "\" y=\"" << number(y(ms) + (ms == high ? 9 : -2))
          << "\" text-anchor=\"end\" font-size=\"10\">" << number(ms) << "</text>\n";
    }
  }
  // Smaller dots where they would crowd.
  const double radius = axis.x(LagEstimator::kWindowMs) - axis.x(0) < 6 ? 1.5 : 3;
  for (const LagWindow& window : windows) {
    const double x = axis.x(window.startMs + window.lengthMs / 2);
    if (!window.lagMs) {
      out << "<line x1=\"" << number(x) << "\" y1=\"" << top + kLagHeight - 4 << "\" x2=\""
          << number(x) << "\" y2=\"" << top + kLagHeight << "\" stroke=\"#aaa\"/>\n";
      continue;
    }
    out << "<circle cx=\"" << number(x) << "\" cy=\"" << number(y(*window.lagMs)) << "\" r=\""
        << radius << "\" fill=\"#a52\" fill-opacity=\"" << number(0.25 + 0.75 * window.coherence)
        << "\"><title>" << number(window.startMs / 1000.0)
        << " s: " << format("%+.2f", *window.lagMs) << " ms, confidence "
        << format("%.2f", window.coherence) << "</title></circle>\n";
  }
}

}  // namespace mirevo::inspect::svg
