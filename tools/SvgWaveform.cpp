#include "SvgWaveform.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace mirevo::inspect::svg {
namespace {

// One envelope column per unit of width, whatever the recording's length.
constexpr auto kColumns = static_cast<std::size_t>(kPlotWidth);

// The smallest of 1, 1/2, 1/4 ... 1/256 of full scale that holds `peak`, as
// the waveform's scale: quiet audio still shows its shape.
int scaleDivisor(const std::vector<EnvelopeColumn>& columns) {
  int peak = 1;
  for (const EnvelopeColumn& column : columns) {
    if (!column.hasAudio) continue;
    peak = std::max({peak, std::abs(static_cast<int>(column.minimum)),
                     std::abs(static_cast<int>(column.maximum))});
  }
  int divisor = 1;
  while (divisor < 256 && peak * divisor * 2 <= 32768) divisor *= 2;
  return divisor;
}

}  // namespace

// The envelope as one vertical stroke per column from its lowest to its
// highest sample, and the heartbeat's level (0 to 1 over the upper half) as
// a thin line.
void drawWaveform(std::ostream& out, const InspectedRecording& recording, const Envelope* envelope,
                  bool microphone, const TimeAxis& axis, double top) {
  const double middle = top + kWaveHeight / 2;
  out << "<rect x=\"" << kLeft << "\" y=\"" << top << "\" width=\"" << kWidth - kLeft - kRight
      << "\" height=\"" << kWaveHeight << "\" fill=\"#f4f4f4\"/>\n";
  out << "<line x1=\"" << kLeft << "\" y1=\"" << middle << "\" x2=\"" << kWidth - kRight
      << "\" y2=\"" << middle << "\" stroke=\"#ddd\"/>\n";
  if (envelope != nullptr) {
    const auto columns = envelope->columns(kColumns, axis.spanMs());
    const int divisor = scaleDivisor(columns);
    const double unit = kWaveHeight / 2 / (32768.0 / divisor);
    out << "<path stroke=\"#37a\" stroke-width=\"1\" d=\"";
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (!columns[i].hasAudio) continue;
      const double high = middle - columns[i].maximum * unit;
      const double low = std::max(high + 1, middle - columns[i].minimum * unit);
      out << 'M' << number(kLeft + static_cast<double>(i) + 0.5) << ',' << number(high) << 'V'
          << number(low);
    }
    out << "\"/>\n<text x=\"" << kWidth - kRight - 4 << "\" y=\"" << top + 11
        << "\" text-anchor=\"end\" font-size=\"10\" fill=\"#555\">scale \u00b1"
        << (divisor == 1 ? std::string("1") : "1/" + std::to_string(divisor)) << "</text>\n";
  }
  out << "<polyline fill=\"none\" stroke=\"#2a7\" stroke-width=\"0.8\" points=\"";
  for (const LevelSample& sample : recording.levels) {
    const double level = microphone ? sample.microphone : sample.system;
    out << number(axis.x(static_cast<double>(sample.elapsedSeconds) * 1000.0)) << ','
        << number(middle - level * kWaveHeight / 2) << ' ';
  }
  out << "\"/>\n";
}

}  // namespace mirevo::inspect::svg
