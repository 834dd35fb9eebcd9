#include "SvgPicture.hpp"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "SvgLagStrip.hpp"
#include "SvgLayout.hpp"
#include "SvgWaveform.hpp"

namespace mirevo::inspect {
namespace {

using namespace svg;

constexpr double kBarHeight = 14;
constexpr double kSourceHeight = kWaveHeight + kBarHeight + 22;
constexpr double kTitleHeight = 40;
constexpr double kAxisHeight = 26;
constexpr double kRecordingHeight =
    kTitleHeight + 2 * kSourceHeight + kLagHeight + 14 + kAxisHeight;

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

double spanMs(const InspectedRecording& recording) {
  double span = 0;
  for (const SourceTimeline* timeline : {&recording.microphone, &recording.system})
    for (const ChunkSpan& chunk : timeline->chunks)
      span = std::max(span, static_cast<double>(chunk.startedAtMs) + chunk.lengthMs);
  for (const LevelSample& sample : recording.levels)
    span = std::max(span, static_cast<double>(sample.elapsedSeconds) * 1000.0);
  return span;
}

// Each chunk as a rectangle in alternating blues; where a second of audio is
// narrower than a few units (a long recording), each run of chunks without a
// break between them as one rectangle instead.
void drawChunks(std::ostream& out, const SourceTimeline& timeline, const TimeAxis& axis,
                double top) {
  std::set<std::int64_t> breakLines;
  for (const Break& gap : timeline.breaks) breakLines.insert(gap.line);
  const bool asRuns = axis.x(1000.0) - axis.x(0.0) < 4.0;
  const auto& chunks = timeline.chunks;
  bool shade = false;
  for (std::size_t first = 0; first < chunks.size();) {
    std::size_t end = first + 1;
    while (asRuns && end < chunks.size() && !breakLines.contains(chunks[end].line)) ++end;
    const ChunkSpan& last = chunks[end - 1];
    const double from = static_cast<double>(chunks[first].startedAtMs);
    const double to = static_cast<double>(last.startedAtMs) + last.lengthMs;
    out << "<rect x=\"" << number(axis.x(from)) << "\" y=\"" << top << "\" width=\""
        << number(std::max(0.5, axis.x(to) - axis.x(from))) << "\" height=\"" << kBarHeight
        << "\" fill=\"" << (shade ? "#58c" : "#37a") << "\"><title>sequence "
        << chunks[first].sequence;
    if (end - first > 1) out << ".." << last.sequence;
    out << ", " << chunks[first].startedAtMs << " ms, " << chunks[first].sampleRate
        << " Hz</title></rect>\n";
    shade = !shade;
    first = end;
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

void drawRecording(std::ostream& out, const InspectedRecording& recording,
                   const RecordingAudio* audio, double top) {
  const TimeAxis axis(spanMs(recording));
  out << "<text x=\"8\" y=\"" << top + 17 << "\" font-size=\"14\" font-weight=\"bold\">"
      << "Recording " << recording.number << ": "
      << escapeXml(recording.sessionId.value_or("(unknown session)")) << " \u2014 "
      << escapeXml(describeEnd(recording)) << "</text>\n"
      << "<text x=\"8\" y=\"" << top + 32 << "\" font-size=\"10\" fill=\"#555\">"
      << "blue: lowest to highest sample per column; green: level from the status events (0 to "
         "1); chunks below, gaps red, overlaps orange</text>\n";
  double y = top + kTitleHeight;
  for (const bool microphone : {true, false}) {
    const char* name = microphone ? "microphone" : "system";
    out << "<text x=\"8\" y=\"" << y + kWaveHeight / 2 << "\" font-size=\"12\">" << name
        << "</text>\n";
    drawWaveform(out, recording, audio != nullptr ? &audio->envelope(name) : nullptr, microphone,
                 axis, y);
    out << "<text x=\"8\" y=\"" << y + kWaveHeight + 16 << "\" font-size=\"12\">" << name
        << " chunks</text>\n";
    drawChunks(out, recording.timeline(name), axis, y + kWaveHeight + 5);
    y += kSourceHeight;
  }
  drawLagStrip(out, audio != nullptr ? audio->lag.windows() : std::vector<LagWindow>{}, axis, y);
  drawAxis(out, axis, y + kLagHeight + 14);
}

}  // namespace

void writeSvg(std::ostream& out, const Inspector& inspector) {
  const auto& recordings = inspector.recordings();
  const double height =
      std::max<double>(1, static_cast<double>(recordings.size())) * kRecordingHeight;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
      << "\" font-family=\"sans-serif\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  if (recordings.empty())
    out << "<text x=\"8\" y=\"20\" font-size=\"14\">No recording in the stream.</text>\n";
  double top = 0;
  for (const InspectedRecording& recording : recordings) {
    drawRecording(out, recording, inspector.audio(recording.number), top);
    top += kRecordingHeight;
  }
  out << "</svg>\n";
}

}  // namespace mirevo::inspect
