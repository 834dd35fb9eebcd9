#include "Report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "LagSummary.hpp"

namespace mirevo::inspect {
namespace {

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string seconds(double ms) {
  return format("%.3f s", ms / 1000.0);
}

std::string describeBreak(const Break& gap) {
  const char* kind = gap.kind == Break::Kind::gap ? "gap" : "overlap";
  return std::string(kind) + " of " + format("%.1f", gap.sizeMs) + " ms at " +
         seconds(gap.expectedMs) + " (line " + std::to_string(gap.line) + ")";
}

void writeSource(std::ostream& out, const Inspector& inspector, const InspectedRecording& recording,
                 const std::string& source) {
  const SourceTimeline& timeline = recording.timeline(source);
  out << "  " << source << ": " << timeline.chunks.size() << " chunk(s), "
      << seconds(timeline.audioMs) << " of audio";
  if (!timeline.sampleRates.empty()) {
    out << ", sample rate(s)";
    for (const auto rate : timeline.sampleRates) out << ' ' << rate;
    out << " Hz";
  }
  out << '\n';
  if (!timeline.chunks.empty()) {
    out << "    sequence " << timeline.chunks.front().sequence << ".."
        << timeline.chunks.back().sequence << ", "
        << (timeline.sequenceContinuous ? "continuous" : "NOT continuous") << ", first chunk at "
        << timeline.chunks.front().startedAtMs << " ms\n";
  }
  out << "    breaks: "
      << (timeline.breaks.empty() ? std::string("none") : std::to_string(timeline.breaks.size()))
      << '\n';
  for (const Break& gap : timeline.breaks) out << "      " << describeBreak(gap) << '\n';
  const LevelSummary levels = summariseLevels(recording, source);
  if (levels.samples > 0) {
    out << "    level: min " << format("%.3f", levels.minimum) << ", mean "
        << format("%.3f", levels.mean) << ", max " << format("%.3f", levels.maximum) << " over "
        << levels.samples << " status event(s), active in " << levels.active;
    if (levels.firstActiveSeconds) out << ", first at " << *levels.firstActiveSeconds << " s";
    out << '\n';
  }
  const auto wav = inspector.wavFiles().find({recording.number, source});
  if (wav != inspector.wavFiles().end()) {
    out << "    wav: " << wav->second.string();
    if (const int leftOut = inspector.wavChunksLeftOut(recording.number, source))
      out << " (" << leftOut << " chunk(s) past the 4 GiB a WAV file holds left out)";
    out << '\n';
  }
}

std::string signedMs(double ms) {
  return format("%+.2f ms", ms);
}

// A row of the lag table: one window, or several in a long recording.
void writeLagRow(std::ostream& out, const std::vector<LagWindow>& windows, std::size_t from,
                 std::size_t to) {
  const LagSummary rows = summariseLags({windows.begin() + static_cast<std::ptrdiff_t>(from),
                                         windows.begin() + static_cast<std::ptrdiff_t>(to)});
  out << "    " << seconds(windows[from].startMs);
  if (to - from > 1) out << " to " << seconds(windows[to - 1].startMs + windows[to - 1].lengthMs);
  out << ": ";
  if (!rows.medianMs) {
    out << "no common sound\n";
    return;
  }
  double lowest = 1.0;
  double highest = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    if (!windows[i].lagMs) continue;
    lowest = std::min(lowest, windows[i].coherence);
    highest = std::max(highest, windows[i].coherence);
  }
  const std::string low = format("%.2f", lowest);
  const std::string high = format("%.2f", highest);
  out << signedMs(*rows.medianMs) << ", confidence " << low;
  if (to - from > 1) {
    if (high != low) out << '-' << high;
    out << " (median of " << rows.withCommonSound << " of " << rows.windows << " windows)";
  }
  out << '\n';
}

void writeLag(std::ostream& out, const Inspector& inspector, const InspectedRecording& recording) {
  const RecordingAudio* audio = inspector.audio(recording.number);
  if (audio == nullptr || audio->lag.windows().empty()) return;
  const std::vector<LagWindow>& windows = audio->lag.windows();
  const LagSummary summary = summariseLags(windows);
  out << "  lag (microphone after system): ";
  if (!summary.medianMs) {
    out << "no common sound in any of the " << summary.windows << " window(s)\n";
    return;
  }
  out << "median " << signedMs(*summary.medianMs);
  if (summary.driftMsPerMinute) {
    // Rounded first, so that a drift of nothing reads "+0.000", not "-0.000".
    const double drift = std::round(*summary.driftMsPerMinute * 1000.0) / 1000.0;
    out << ", drift " << format("%+.3f", drift == 0.0 ? 0.0 : drift) << " ms/min (from "
        << signedMs(*summary.firstMs) << " in the first windows to " << signedMs(*summary.lastMs)
        << " in the last)";
  }
  out << "; common sound in " << summary.withCommonSound << " of " << summary.windows
      << " window(s) of " << format("%.0f", LagEstimator::kWindowMs / 1000.0) << " s\n";
  // A long recording gets one row per group of windows, at most this many rows.
  constexpr std::size_t kRows = 60;
  const std::size_t perRow = (windows.size() + kRows - 1) / kRows;
  for (std::size_t from = 0; from < windows.size(); from += perRow)
    writeLagRow(out, windows, from, std::min(windows.size(), from + perRow));
}

void writeRecording(std::ostream& out, const Inspector& inspector,
                    const InspectedRecording& recording) {
  out << "Recording " << recording.number << ": session "
      << recording.sessionId.value_or("(unknown)") << ", job "
      << recording.jobId.value_or("(no audio)") << ", "
      << (recording.levels.empty()
              ? std::string("no status")
              : std::to_string(recording.levels.back().elapsedSeconds) + " s elapsed")
      << "; " << describeEnd(recording) << '\n';
  writeSource(out, inspector, recording, "microphone");
  writeSource(out, inspector, recording, "system");
  writeLag(out, inspector, recording);
}

}  // namespace

LevelSummary summariseLevels(const InspectedRecording& recording, const std::string& source) {
  LevelSummary summary;
  double total = 0.0;
  for (const LevelSample& sample : recording.levels) {
    const bool microphone = source == "microphone";
    const double level = microphone ? sample.microphone : sample.system;
    summary.minimum = summary.samples == 0 ? level : std::min(summary.minimum, level);
    summary.maximum = summary.samples == 0 ? level : std::max(summary.maximum, level);
    total += level;
    ++summary.samples;
    if (microphone ? sample.microphoneActive : sample.systemActive) {
      ++summary.active;
      if (!summary.firstActiveSeconds) summary.firstActiveSeconds = sample.elapsedSeconds;
    }
  }
  if (summary.samples > 0) summary.mean = total / static_cast<double>(summary.samples);
  return summary;
}

void writeReport(std::ostream& out, const Inspector& inspector) {
  out << inspector.lineCount() << " line(s), " << inspector.recordings().size()
      << " recording(s)\n";
  for (const InspectedRecording& recording : inspector.recordings())
    writeRecording(out, inspector, recording);
  for (const Note& note : inspector.notes())
    out << "line " << note.line << ": " << note.text << '\n';
  if (inspector.violations().empty()) {
    out << "Protocol: no violations\n";
    return;
  }
  out << "Protocol: " << inspector.violations().size() << " violation(s)\n";
  for (const Violation& violation : inspector.violations())
    out << "  line " << violation.line << ": " << violation.text << '\n';
}

}  // namespace mirevo::inspect
