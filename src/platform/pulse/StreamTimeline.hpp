// The presentation times of one recorded source on the host clock. Time is
// counted in samples from an anchor, so that the gathered audio always
// matches its length and one-second chunks follow each other at exactly one
// second; each read's own capture time only checks the count. A read later
// than the count by more than 100 ms came after a real gap (a suspended or
// stalled source, an overrun, a move) and re-anchors the timeline, which
// makes the chunking start a new chunk.
//
// A read measured earlier than the count by more than that is never a gap:
// audio cannot come from before the audio already placed. Its latency was
// misjudged (the server's latency report, asked for every few seconds, can
// be off by more than 100 ms on a loaded machine): such reads stay on the
// count, and only a lasting difference is slewed away as drift is, so that
// no chunk ever overlaps the one before.
//
// A read that merely arrived late looks just like one after a gap, so reads
// that disagree with the count are held until later ones tell them apart:
// - when this process was not scheduled for a while, the fragments waiting
//   in its socket arrive in a burst, each measured as captured about "now";
//   the burst soon ends with a read that agrees with the count again, and
//   the held reads were only late;
// - after a real gap, the reads go on at the pace of their samples from the
//   first held one: once they have done so for kConfirmSeconds, the gap is
//   real and the timeline is re-anchored there. That time runs from when the
//   first of them arrived to when the newest did (each arrives as its last
//   frame is captured), so that the length of one large read (a backlog
//   taken at once, of which the server still held back the rest) does not
//   count as time the reads went on.
// Smaller differences are measurement noise or clock drift: their average is
// kept, and only when it leaves a dead band is the timeline slewed, by at
// most a millisecond per second, so that drift is absorbed before it ever
// reaches the gap limit and a recording of hours never breaks without a real
// gap.
//
// A timeline may have a floor: the moment the recording started, or where the
// audio that an earlier stream of the same source delivered ended. Audio
// captured before it was never part of the recording, or would overlap what
// the recording already holds: the record stream leaves those frames out, and the
// first read is anchored on the host clock no earlier than the floor, so that
// the time a source spent away shows as a gap and never as an overlap.
//
// Threads: not synchronised; one libpulse loop thread uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/pulse/TimingLimits.hpp"

namespace mirevo::platform::pulse {

class StreamTimeline {
 public:
  explicit StreamTimeline(double sampleRate,
                          double floorSeconds = -std::numeric_limits<double>::infinity())
      : sampleRate_(sampleRate), floorSeconds_(floorSeconds) {}

  // How many frames at the head of a read of `frames` frames, whose first
  // frame was captured at `capturedSeconds`, lie before the floor. Only the
  // reads before the first one placed have any: 0 once the timeline is
  // anchored.
  std::int64_t framesBeforeFloor(std::int64_t frames, double capturedSeconds) const;
  // Where the audio placed so far ends (after a flush, the end of everything
  // settled); the floor while nothing was placed.
  double endSeconds() const;
  // Whether a read was placed.
  bool anchored() const { return anchored_; }

  // A read as the timeline settles it: its samples, and the presentation time
  // of its first frame.
  struct Placed {
    std::vector<float> samples;
    double startSeconds;
  };

  // Takes the next read of `frames` frames (its `samples` travel with it),
  // whose first frame was captured at `capturedSeconds` as far as the
  // latency tells; the first read anchors the timeline. Answers the reads
  // settled by this one, oldest first: always the oldest reads not settled
  // before, and none while this one is held.
  std::vector<Placed> place(std::int64_t frames, double capturedSeconds,
                            std::vector<float> samples = {});
  // Settles the reads still held (at the end, when no further read will come
  // to judge them): as late when the last of them agrees with the count,
  // else as after a gap.
  std::vector<Placed> flush();

 private:
  struct Read {
    std::int64_t frames;
    double capturedSeconds;
    std::int64_t offset;  // frames held before it
    std::vector<float> samples;
  };

  double expectedSeconds() const;
  void anchor(double capturedSeconds);
  double advance(std::int64_t frames);
  void slew(double difference, std::int64_t frames);
  double placeChecked(std::int64_t frames, double capturedSeconds);
  static bool disagrees(double capturedSeconds, double expectedSeconds);
  // Whether a read lies later than the count by more than a gap allows.
  static bool behind(double capturedSeconds, double expectedSeconds);
  void hold(std::int64_t frames, double capturedSeconds, std::vector<float> samples);
  // When a read arrived, by its capture time: the end of its audio.
  double arrivalOf(const Read& read) const;
  // Where the count puts the newest held read when the held ones were late.
  double countedTimeOfNewest() const;
  // Where a gap before the steady run of held reads puts the first of them.
  double anchorBeforeRun() const;
  std::vector<Placed> settleHeld();

  double sampleRate_;
  double floorSeconds_;
  bool anchored_ = false;
  double anchorSeconds_ = 0.0;
  std::int64_t framesSinceAnchor_ = 0;
  double averageDifference_ = 0.0;
  std::vector<Read> held_;
  // The first of the newest held reads that go on at the pace of their
  // samples from one another.
  std::size_t runStart_ = 0;
};

}  // namespace mirevo::platform::pulse
