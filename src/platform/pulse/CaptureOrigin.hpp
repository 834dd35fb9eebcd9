// When the frames of one record stream were captured, on the host clock, as
// the server's latest timing report tells it. A report says how many frames
// the server had written into the stream by a moment (its write index) and
// how long the source itself still held audio then (its latency); the
// stream's frame n was then captured at
//   moment - latency - (written - n) / rate.
// Unlike the moment a read arrives, this does not depend on how long the
// server gathered a fragment before sending it (PipeWire's pulse server sends
// whole fragments and keeps the rest of a processing cycle back), nor on how
// long this process took to read it.
//
// A report is late by however long the newest frame had waited at the server
// before the report was made (the rest of a processing cycle, a busy server),
// never early: the earliest origin among the recent reports counts. A report
// whose origin is later than that by more than kJumpSeconds tells of a gap
// (the server lost time, as when it missed its cycles): the reports before it
// are let go.
//
// Threads: not synchronised; one libpulse loop thread uses it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace mirevo::platform::pulse {

class CaptureOrigin {
 public:
  // How many of the newest reports are weighed: older ones are let go, so
  // that clocks that drift apart are followed.
  static constexpr std::size_t kReportsKept = 6;
  // Lateness beyond this is a gap.
  static constexpr double kJumpSeconds = 0.008;

  explicit CaptureOrigin(double sampleRate) : sampleRate_(sampleRate) {}

  // A report made at `reportSeconds` (host clock), when the server had
  // written `framesWritten` frames, the source held `latencySeconds`, and
  // this process had read `framesRead`. A report from before the first frame
  // was written tells nothing and is left out.
  void report(double reportSeconds, double latencySeconds, std::int64_t framesWritten,
              std::int64_t framesRead);
  // How many reports are weighed now.
  std::size_t reports() const { return origins_.size(); }
  // When frame `frame` of the stream was captured; none without a report.
  std::optional<double> capturedSeconds(std::int64_t frame) const;
  // Whether the report was made once the frames before `frame` were read.
  bool covers(std::int64_t frame) const { return !origins_.empty() && framesRead_ >= frame; }
  // The stream's count no longer matches time (a gap): the reports are let
  // go.
  void forget() { origins_.clear(); }

 private:
  double sampleRate_;
  std::deque<double> origins_;   // when frame 0 was captured, oldest first
  std::int64_t framesRead_ = 0;  // by the newest report
};

}  // namespace mirevo::platform::pulse
