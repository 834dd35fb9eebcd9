#include "SvgPicture.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>

#include "LagSummary.hpp"

namespace mirevo::inspect {
namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 130;  // room for the row labels
constexpr double kRight = 20;
// One envelope column per unit of width, whatever the recording's length.
constexpr auto kColumns = static_cast<std::size_t>(kWidth - kLeft - kRight);
constexpr double kWaveHeight = 80;
constexpr double kBarHeight = 14;
constexpr double kSourceHeight = kWaveHeight + kBarHeight + 22;
constexpr double kLagHeight = 56;
constexpr double kTitleHeight = 40;
constexpr double kAxisHeight = 26;
constexpr double kRecordingHeight =
    kTitleHeight + 2 * kSourceHeight + kLagHeight + 14 + kAxisHeight;

std::string format(const char* pattern, double value) {
  char text[32];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string number(double value) {
  return format("%.1f", value);
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
void drawLagStrip(std::ostream& out, const RecordingAudio* audio, const TimeAxis& axis,
                  double top) {
  out << "<rect x=\"" << kLeft << "\" y=\"" << top << "\" width=\"" << kWidth - kLeft - kRight
      << "\" height=\"" << kLagHeight << "\" fill=\"#f8f4ee\"/>\n"
      << "<text x=\"8\" y=\"" << top + 16 << "\" font-size=\"12\">lag, ms</text>\n"
      << "<text x=\"8\" y=\"" << top + 30
      << "\" font-size=\"10\" fill=\"#555\">microphone after</text>\n"
      << "<text x=\"8\" y=\"" << top + 42 << "\" font-size=\"10\" fill=\"#555\">system</text>\n";
  const std::vector<LagWindow> none;
  const std::vector<LagWindow>& windows = audio != nullptr ? audio->lag.windows() : none;
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
        << "\"><title>" << number(window.startMs / 1000.0) << " s: " << *window.lagMs
        << " ms, confidence " << window.coherence << "</title></circle>\n";
  }
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
  drawLagStrip(out, audio, axis, y);
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
