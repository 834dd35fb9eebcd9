// The presentation times of one recorded source on the host clock. Time is
// counted in samples from an anchor, so that the gathered audio always
// matches its length; each fragment's own capture time (now − latency) only
// checks the count. A difference above 100 ms is a real gap (a suspended or
// stalled source, an overrun, a move) and re-anchors the timeline, which makes
// the chunking start a new chunk; smaller differences are clock drift and
// measurement noise, absorbed a little at a time so that a recording of hours
// never breaks without a real gap.
//
// Threads: not synchronised; one libpulse loop thread uses it.
#pragma once

#include <cstdint>
#include <optional>

namespace mirevo::platform::pulse {

class StreamTimeline {
 public:
  static constexpr double kGapSeconds = 0.100;
  // Share of the measured difference absorbed per fragment: about 20
  // fragments a second make a time constant of a few seconds.
  static constexpr double kAbsorbedShare = 0.01;

  explicit StreamTimeline(double sampleRate) : sampleRate_(sampleRate) {}

  // The presentation time of the next `frames` frames. `capturedSeconds` is
  // the host time of their first frame as the server's latency puts it, or
  // none when the server has not reported timing yet; then `nowSeconds`
  // stands in for it without anchoring the timeline.
  double place(std::int64_t frames, std::optional<double> capturedSeconds, double nowSeconds);

 private:
  double expectedSeconds() const;

  double sampleRate_;
  bool anchored_ = false;
  double anchorSeconds_ = 0.0;
  std::int64_t framesSinceAnchor_ = 0;
};

}  // namespace mirevo::platform::pulse
