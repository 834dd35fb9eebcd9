// When the frames of one record stream were captured, on the host clock, as
// the server's timing reports tell it. A report says how many frames the
// server had written into the stream by a moment (its write index) and how
// long the source itself still held audio then (its latency); the stream's
// frame n was then captured at
//   moment - latency - (written - n) / rate.
// Unlike the moment a read arrives, this does not depend on how long the
// server gathered a fragment before sending it (PipeWire's pulse server sends
// whole fragments and keeps the rest of a processing cycle back), nor on how
// long this process took to read it.
//
// A report is late by however long the newest frame had waited at the server
// before the report was made (the rest of a processing cycle, a busy server),
// never early: the earliest origin among the recent reports counts. A report
// whose origin is later than that by more than kJumpSeconds tells that the
// server lost some of the stream's audio (a PipeWire server that misses its
// processing cycles under load drops whole cycles from a stream), or merely
// that it was late to report (a busy server answers from a count it has not
// brought up to date, by up to a cycle and more): it is doubted until
// reports made after kLossReads reads and over kLossSpanSeconds of the stream
// all tell the same, and the earliest of them says how much was lost. A
// classic PulseAudio server never drops audio it counted, and writes a sink's
// monitor a block at a time, so that a report made late in a block is late
// by up to a block: there, a late report is only late.
// - A loss shorter than kMaxLossSeconds is counted: the record stream fills it
//   with silence, and frames are counted by their index in the recorded
//   audio (stream frame plus the silence filled before it), so that the
//   origin stays where it was and the audio after a loss keeps its time.
// - A longer one is a gap: the reports before it are let go, and the
//   record stream's timeline sees the jump.
//
// Threads: not synchronised; one libpulse loop thread uses it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "platform/pulse/TimingLimits.hpp"

namespace mirevo::platform::pulse {

class CaptureOrigin {
 public:
  // `countsLosses`: whether the server may drop audio it counted; where it
  // never does, a late report is only late.
  CaptureOrigin(double sampleRate, bool countsLosses)
      : sampleRate_(sampleRate), countsLosses_(countsLosses) {}

  // A report made at `reportSeconds` (host clock), when the server had
  // written `framesWritten` frames, the source held `latencySeconds`, and
  // this process had read `framesRead`. A report from before the first frame
  // was written tells nothing and is left out. Answers how many frames the
  // stream is newly known to have lost, to be filled with silence.
  std::int64_t report(double reportSeconds, double latencySeconds, std::int64_t framesWritten,
                      std::int64_t framesRead);
  // How many reports are weighed now.
  std::size_t reports() const { return origins_.size(); }
  // When the frame at `index` of the recorded audio was captured (a stream
  // frame plus lostFrames() at the time it was read); none without a report.
  std::optional<double> capturedSeconds(std::int64_t index) const;
  // Whether the report was made once the stream frames before `frame` were
  // read.
  bool covers(std::int64_t frame) const { return !origins_.empty() && framesRead_ >= frame; }
  // Late reports wait for more to tell whether the stream lost audio.
  bool doubted() const { return !later_.empty(); }
  // The silence filled in for losses so far, in frames.
  std::int64_t lostFrames() const { return lostFrames_; }
  // The stream's count no longer matches time (a gap): the reports are let
  // go.
  void forget();

 private:
  struct Late {
    double origin;
    std::int64_t framesRead;
    std::int64_t framesWritten;
  };

  void keep(double origin);
  // Whether the doubted reports are enough to tell a loss.
  bool laterTellLoss() const;
  // Takes the doubted reports as a loss (or a gap).
  std::int64_t takeLoss();

  double sampleRate_;
  bool countsLosses_;
  std::deque<double> origins_;   // when index 0 was captured, oldest first
  std::vector<Late> later_;      // doubted reports, oldest first
  std::int64_t framesRead_ = 0;  // by the newest report
  std::int64_t lostFrames_ = 0;
};

}  // namespace mirevo::platform::pulse
