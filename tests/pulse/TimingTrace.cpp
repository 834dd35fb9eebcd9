#include "TimingTrace.hpp"

#include <cmath>
#include <cstdio>
#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace mirevo::testing {
namespace {

[[noreturn]] void unreadable(int number, const std::string& line) {
  throw std::runtime_error("trace line " + std::to_string(number) + ": " + line);
}

std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

}  // namespace

TimingTrace readTimingTrace(std::istream& in) {
  TimingTrace trace;
  std::string line;
  int number = 0;
  bool headed = false;
  while (std::getline(in, line)) {
    ++number;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream fields(line);
    std::string word;
    if (!(fields >> word)) continue;
    if (!headed) {
      int version = 0;
      if (word != "mirevo-timing-trace" || !(fields >> version) || version != 1) {
        unreadable(number, line);
      }
      headed = true;
      continue;
    }
    TimingTrace::Event event;
    bool read = false;
    if (word == "server") {
      read = static_cast<bool>(fields >> trace.server);
      if (read) continue;
    } else if (word == "rate") {
      read = static_cast<bool>(fields >> trace.rate);
      if (read) continue;
    } else if (word == "stream") {
      event.kind = TimingTrace::Event::Kind::stream;
      read = static_cast<bool>(fields >> event.stream >> event.seconds >> event.source);
    } else if (word == "deliver") {
      event.kind = TimingTrace::Event::Kind::deliver;
      read = static_cast<bool>(fields >> event.stream);
    } else if (word == "read") {
      event.kind = TimingTrace::Event::Kind::read;
      read =
          static_cast<bool>(fields >> event.stream >> event.seconds >> event.first >> event.frames);
      for (std::int64_t onset = 0; read && fields >> onset;) event.onsets.push_back(onset);
    } else if (word == "report") {
      event.kind = TimingTrace::Event::Kind::report;
      read = static_cast<bool>(fields >> event.stream >> event.seconds >> event.first >>
                               event.latencySeconds);
    } else if (word == "end") {
      event.kind = TimingTrace::Event::Kind::end;
      read = static_cast<bool>(fields >> event.stream);
    }
    if (!read) unreadable(number, line);
    trace.events.push_back(std::move(event));
  }
  if (!headed) throw std::runtime_error("not a timing trace");
  return trace;
}

void OnsetFinder::find(const std::vector<float>& samples, std::int64_t firstFrame, int rate,
                       std::vector<std::int64_t>& onsets) {
  const auto quiet = static_cast<std::int64_t>(kQuietSeconds * rate);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::fabs(samples[i]) < kLoud) {
      ++quietFrames_;
      continue;
    }
    if (quietFrames_ >= quiet) onsets.push_back(firstFrame + static_cast<std::int64_t>(i));
    quietFrames_ = 0;
  }
}

void writeTraceHeader(std::ostream& out, const std::string& server, int rate) {
  out << "mirevo-timing-trace 1\nserver " << server << "\nrate " << rate << "\n";
}

void writeTraceRead(std::ostream& out, int stream, const platform::pulse::ReadPlacer::Read& read,
                    const std::vector<std::int64_t>& onsets) {
  out << "read " << stream << " " << seconds(read.arrivalSeconds) << " " << read.firstFrame << " "
      << read.samples.size();
  for (const std::int64_t onset : onsets) out << " " << onset;
  out << "\n";
}

void writeTraceReport(std::ostream& out, int stream,
                      const platform::pulse::ReadPlacer::Report& report) {
  out << "report " << stream << " " << seconds(report.momentSeconds) << " " << report.writeIndex
      << " " << seconds(report.latencySeconds) << "\n";
}

}  // namespace mirevo::testing
