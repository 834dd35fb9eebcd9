#include "SvgPicture.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace mirevo::inspect {
namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 130;  // room for the row labels
constexpr double kRight = 20;
constexpr double kLevelHeight = 60;
constexpr double kBarHeight = 14;
constexpr double kSourceHeight = kLevelHeight + kBarHeight + 22;
constexpr double kTitleHeight = 26;
constexpr double kAxisHeight = 26;
constexpr double kRecordingHeight = kTitleHeight + 2 * kSourceHeight + kAxisHeight;

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string escapeXml(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// Maps milliseconds of a recording onto the drawing's x axis.
class TimeAxis {
 public:
  explicit TimeAxis(double spanMs) : spanMs_(std::max(spanMs, 1000.0)) {}
  double x(double ms) const { return kLeft + ms / spanMs_ * (kWidth - kLeft - kRight); }
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

double spanMs(const InspectedRecording& recording) {
  double span = 0;
  for (const SourceTimeline* timeline : {&recording.microphone, &recording.system})
    for (const ChunkSpan& chunk : timeline->chunks)
      span = std::max(span, static_cast<double>(chunk.startedAtMs) + chunk.lengthMs);
  for (const LevelSample& sample : recording.levels)
    span = std::max(span, static_cast<double>(sample.elapsedSeconds) * 1000.0);
  return span;
}

void drawLevel(std::ostream& out, const InspectedRecording& recording, bool microphone,
               const TimeAxis& axis, double top) {
  const double bottom = top + kLevelHeight;
  out << "<rect x=\"" << kLeft << "\" y=\"" << top << "\" width=\"" << kWidth - kLeft - kRight
      << "\" height=\"" << kLevelHeight << "\" fill=\"#f4f4f4\"/>\n";
  out << "<polyline fill=\"none\" stroke=\"#2a7\" stroke-width=\"1.5\" points=\"";
  for (const LevelSample& sample : recording.levels) {
    const double level = microphone ? sample.microphone : sample.system;
    out << number(axis.x(static_cast<double>(sample.elapsedSeconds) * 1000.0)) << ','
        << number(bottom - level * kLevelHeight) << ' ';
  }
  out << "\"/>\n";
}

void drawChunks(std::ostream& out, const SourceTimeline& timeline, const TimeAxis& axis,
                double top) {
  bool shade = false;
  for (const ChunkSpan& chunk : timeline.chunks) {
    const double from = static_cast<double>(chunk.startedAtMs);
    out << "<rect x=\"" << number(axis.x(from)) << "\" y=\"" << top << "\" width=\""
        << number(std::max(0.5, axis.x(from + chunk.lengthMs) - axis.x(from))) << "\" height=\""
        << kBarHeight << "\" fill=\"" << (shade ? "#58c" : "#37a") << "\"><title>sequence "
        << chunk.sequence << ", " << chunk.startedAtMs << " ms, " << chunk.sampleRate
        << " Hz</title></rect>\n";
    shade = !shade;
  }
  for (const Break& gap : timeline.breaks) {
    const bool isGap = gap.kind == Break::Kind::gap;
    const double from = isGap ? gap.expectedMs : gap.expectedMs - gap.sizeMs;
    out << "<rect x=\"" << number(axis.x(from)) << "\" y=\"" << top - 3 << "\" width=\""
        << number(std::max(2.0, axis.x(from + gap.sizeMs) - axis.x(from))) << "\" height=\""
        << kBarHeight + 6 << "\" fill=\"" << (isGap ? "#d22" : "#f90")
        << "\" fill-opacity=\"0.8\"><title>" << (isGap ? "gap" : "overlap") << " of "
        << number(gap.sizeMs) << " ms</title></rect>\n";
  }
}

void drawAxis(std::ostream& out, const TimeAxis& axis, double top) {
  out << "<line x1=\"" << kLeft << "\" y1=\"" << top << "\" x2=\"" << kWidth - kRight << "\" y2=\""
      << top << "\" stroke=\"#888\"/>\n";
  const double step = axis.tickSeconds();
  for (double s = 0; s * 1000.0 <= axis.spanMs(); s += step) {
    const double x = axis.x(s * 1000.0);
    out << "<line x1=\"" << number(x) << "\" y1=\"" << top << "\" x2=\"" << number(x) << "\" y2=\""
        << top + 4 << "\" stroke=\"#888\"/>"
        << "<text x=\"" << number(x) << "\" y=\"" << top + 16
        << "\" text-anchor=\"middle\" font-size=\"11\">" << s << " s</text>\n";
  }
}

void drawRecording(std::ostream& out, const InspectedRecording& recording, double top) {
  const TimeAxis axis(spanMs(recording));
  out << "<text x=\"8\" y=\"" << top + 17 << "\" font-size=\"14\" font-weight=\"bold\">"
      << "Recording " << recording.number << ": "
      << escapeXml(recording.sessionId.value_or("(unknown session)")) << " — "
      << escapeXml(describeEnd(recording)) << "</text>\n";
  double y = top + kTitleHeight;
  for (const bool microphone : {true, false}) {
    const char* name = microphone ? "microphone" : "system";
    out << "<text x=\"8\" y=\"" << y + kLevelHeight / 2 << "\" font-size=\"12\">" << name
        << " level</text>\n";
    drawLevel(out, recording, microphone, axis, y);
    out << "<text x=\"8\" y=\"" << y + kLevelHeight + 16 << "\" font-size=\"12\">" << name
        << " chunks</text>\n";
    drawChunks(out, recording.timeline(name), axis, y + kLevelHeight + 5);
    y += kSourceHeight;
  }
  drawAxis(out, axis, y);
}

}  // namespace

void writeSvg(std::ostream& out, const std::vector<InspectedRecording>& recordings) {
  const double height =
      std::max<double>(1, static_cast<double>(recordings.size())) * kRecordingHeight;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
      << "\" font-family=\"sans-serif\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  if (recordings.empty())
    out << "<text x=\"8\" y=\"20\" font-size=\"14\">No recording in the stream.</text>\n";
  double top = 0;
  for (const InspectedRecording& recording : recordings) {
    drawRecording(out, recording, top);
    top += kRecordingHeight;
  }
  out << "</svg>\n";
}

}  // namespace mirevo::inspect
