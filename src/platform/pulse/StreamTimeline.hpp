// The presentation times of one recorded source on the host clock. Time is
// counted in samples from an anchor, so that the gathered audio always
// matches its length and one-second chunks follow each other at exactly one
// second; each read's own capture time only checks the count. A difference
// above 100 ms is a real gap (a suspended or stalled source, an overrun, a
// move) and re-anchors the timeline, which makes the chunking start a new
// chunk. As a read that merely arrived late (this process or the server was
// not scheduled in time) looks just like one after a gap, such a read is held
// until the next one tells them apart. Smaller differences are measurement
// noise or clock drift: their average is followed, and only when it leaves a
// dead band is the timeline slewed, by at most a millisecond per second, so
// that drift is absorbed before it ever reaches the gap limit and a recording
// of hours never breaks without a real gap.
//
// Threads: not synchronised; one libpulse loop thread uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

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

  // The presentation times of reads that are settled, oldest first.
  struct Settled {
    std::size_t count = 0;
    std::array<double, 2> seconds{};
    void add(double placed) { seconds[count++] = placed; }
  };

  // Takes the next read of `frames` frames, whose first frame was captured
  // at `capturedSeconds` as far as the latency tells; the first read anchors
  // the timeline. Settles this read; or none, when it is held back for
  // disagreeing with the count by more than the gap limit; or the held one
  // and this one.
  Settled place(std::int64_t frames, double capturedSeconds);
  // Settles a read still held, on its own capture time (at the end, when no
  // further read will come to judge it).
  Settled flush();

 private:
  struct Held {
    std::int64_t frames;
    double capturedSeconds;
  };

  double expectedSeconds() const;
  void anchor(double capturedSeconds);
  double advance(std::int64_t frames);
  void follow(double difference, std::int64_t frames);
  double placeChecked(std::int64_t frames, double capturedSeconds);

  double sampleRate_;
  bool anchored_ = false;
  double anchorSeconds_ = 0.0;
  std::int64_t framesSinceAnchor_ = 0;
  double averageDifference_ = 0.0;
  std::optional<Held> held_;
};

}  // namespace mirevo::platform::pulse
