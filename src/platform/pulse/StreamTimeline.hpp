// The presentation times of one recorded source on the host clock. Time is
// counted in samples from an anchor, so that the gathered audio always
// matches its length and one-second chunks follow each other at exactly one
// second; each read's own capture time only checks the count. A difference
// above 100 ms is a real gap (a suspended or stalled source, an overrun, a
// move) and re-anchors the timeline, which makes the chunking start a new
// chunk. Smaller differences are measurement noise or clock drift: their
// average is followed, and only when it leaves a dead band is the timeline
// slewed, by at most a millisecond per second, so that drift is absorbed
// before it ever reaches the gap limit and a recording of hours never breaks
// without a real gap.
//
// Threads: not synchronised; one libpulse loop thread uses it.
#pragma once

#include <cstdint>

namespace mirevo::platform::pulse {

class StreamTimeline {
 public:
  static constexpr double kGapSeconds = 0.100;
  // Weight of each read in the average difference: with tens of reads a
  // second, it follows over a few seconds.
  static constexpr double kAveragingShare = 0.01;
  // An average difference within this is left alone.
  static constexpr double kDeadBandSeconds = 0.020;
  // The fastest slew, in seconds per second of audio.
  static constexpr double kMaxSlew = 0.001;

  explicit StreamTimeline(double sampleRate) : sampleRate_(sampleRate) {}

  // The presentation time of the next `frames` frames, whose first frame was
  // captured at `capturedSeconds` as far as the latency tells. The first call
  // anchors the timeline there.
  double place(std::int64_t frames, double capturedSeconds);

 private:
  double expectedSeconds() const;
  void follow(double difference, std::int64_t frames);

  double sampleRate_;
  bool anchored_ = false;
  double anchorSeconds_ = 0.0;
  std::int64_t framesSinceAnchor_ = 0;
  double averageDifference_ = 0.0;
};

}  // namespace mirevo::platform::pulse
