// Places the reads of one record stream on the host clock: what arrives from
// the server goes in, as reads and timing reports, and audio comes out with
// the presentation time of its first frame. Nothing here calls the server,
// so that a recorded trace of reads and reports replays it exactly.
//
// - A read is timed by where its first frame lies in the stream, as the
//   server's timing reports place the stream's frames on the host clock
//   (CaptureOrigin): two sources that hear one sound then give it one time,
//   however each server gathers and sends its fragments. Until the reports
//   say so, and whenever they disagree with the moment the read arrived by
//   more than a gap (the count broke since the last report), the moment of
//   arrival times it instead, and what follows anchors the timeline anew.
// - Reads are gathered into buffers of at least kHandOverSeconds, so that
//   the session's queue wakes a few times a second rather than at every
//   fragment; a gap between reads hands over what was gathered first. The
//   buffer that anchors the timeline (the first, and the first after the
//   count broke) waits for kAnchorReports reports, the last made after it
//   was read, or for kReportWaitSeconds of audio. Each buffer is then timed
//   once more, by the reports that came while it was gathered, and placed on
//   the StreamTimeline, which carries its samples until it settles them.
// - Audio the server lost (a PipeWire server that misses its processing
//   cycles drops them from the stream) is filled with silence of its length,
//   before the audio not yet handed over, so that what follows keeps its
//   time. A read that arrives later, against the count, than the recent
//   reads did by more than kJumpSeconds may follow a loss: reports are wanted
//   at once. Nothing waits for the reports to tell (they take a few reads):
//   audio of the default output held that long would come after the other
//   outputs' audio had been mixed without it.
// - Frames captured before the floor are left out (see StreamTimeline).
//
// Threads: not synchronised; one thread (the libpulse loop's) uses it. The
// hand-over callback runs within read, report and flush.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <vector>

#include "platform/pulse/CaptureOrigin.hpp"
#include "platform/pulse/StreamTimeline.hpp"
#include "platform/pulse/TimingLimits.hpp"

namespace mirevo::platform::pulse {

class ReadPlacer {
 public:
  struct Settings {
    int sampleRate = 48000;
    int channelCount = 1;
    // Where the recording starts, or where an earlier stream of the same
    // source ended.
    double floorSeconds = -std::numeric_limits<double>::infinity();
    // Whether the server may drop audio it counted (PipeWire's lost cycles);
    // where it never does, a late report is only late.
    bool countsLosses = false;
    // Counts the frames kept for the recording, silence filled in included,
    // when given; any thread may read it.
    std::atomic<std::int64_t>* framesKept = nullptr;
  };
  // What the stream gave at once.
  struct Read {
    std::vector<float> samples;   // interleaved; a hole is silence
    std::int64_t firstFrame = 0;  // its first frame's index in the stream
    double arrivalSeconds = 0.0;  // on the host clock, when it was taken
  };
  // What the server said of the stream.
  struct Report {
    double momentSeconds = 0.0;   // on the host clock, when it was made
    std::int64_t writeIndex = 0;  // frames written into the stream; negative: unknown
    double latencySeconds = 0.0;  // what the source itself still held
  };
  using Placed = StreamTimeline::Placed;
  using HandOver = std::function<void(Placed)>;

  ReadPlacer(const Settings& settings, HandOver handOver);

  // Until delivering, reads are only counted: they were captured before the
  // recording started.
  void startDelivering() { delivering_ = true; }
  bool delivering() const { return delivering_; }
  // Takes a read. Answers whether reports are wanted now (see wantsReports),
  // or at once because the read came late.
  bool read(const Read& read);
  void report(const Report& report);
  // Whether reports are wanted at every read: to anchor the timeline, or to
  // tell whether late reports were a loss.
  bool wantsReports() const;
  // Hands over everything gathered, what the timeline still holds included;
  // delivery goes on.
  void flush();
  // Drops what was gathered; nothing more is handed over.
  void stop();
  // Where the audio handed over ends; the floor while none was.
  double endSeconds() const { return timeline_.endSeconds(); }

 private:
  // Audio read and not yet handed over, silence filled in included.
  struct Gathered {
    std::vector<float> samples;
    double capturedSeconds = 0.0;  // of its first frame, when its first read arrived
    std::int64_t firstFrame = 0;   // in the stream
    std::int64_t firstIndex = 0;   // in the recorded audio, silence included
  };
  // When a frame was captured, and how that was told.
  struct CaptureTime {
    double seconds;
    bool counted;     // by the reports' count
    bool countBroke;  // the count disagrees with the arrival: a gap
  };

  // When the frame at `index` of the recorded audio was captured: as the
  // reports count it, unless they are missing or disagree with
  // `arrivalSeconds` (then the arrival tells, and countBroke says which).
  CaptureTime captureTimeOf(std::int64_t index, double arrivalSeconds) const;
  // The stream's count no longer matches time: a newer report will tell,
  // and what follows anchors the timeline anew.
  void breakCount();
  // Whether a read arrived later, against the count, than the recent reads
  // did by more than kJumpSeconds; keeps its lateness.
  bool arrivedLate(double lateness);
  void gather(const Read& read, double capturedSeconds, std::int64_t firstIndex);
  // Whether the gathered audio may be placed: reports time it, or it waited
  // for them long enough.
  bool mayPlace() const;
  bool gatheredEnough() const;
  // Fills `frames` lost frames with silence, before the audio not yet handed
  // over.
  void fillLoss(std::int64_t frames);
  void prependSilence(std::int64_t frames);
  // After the count broke, the new count puts the gathered audio at
  // `captured`: later than where the timeline ends by less than a gap, on a
  // server that drops cycles, the difference is a loss (the timeline would
  // let it pass as noise) and is filled; `captured` moves to its start.
  void fillLossAcrossBreak(double& captured);
  // Before the timeline is anchored: drops the gathered frames from before
  // the floor and moves `captured` to the first frame kept.
  void leaveOutBeforeFloor(double& captured);
  void handOverGathered();
  void handOver(std::vector<Placed> placed);
  void count(std::int64_t frames);
  std::int64_t framesOf(const std::vector<float>& samples) const;

  double rate_;
  std::size_t channels_;
  bool countsLosses_;
  std::atomic<std::int64_t>* framesKept_;
  HandOver handOver_;
  CaptureOrigin origin_;
  StreamTimeline timeline_;
  Gathered gathered_;
  // Frames of the stream read so far, those not delivered included: the
  // stream's own count, which the server's write index counts too.
  std::int64_t framesRead_ = 0;
  // What the source held at the server's last report.
  double latencySeconds_ = 0.0;
  // The lateness of the latest reads against the count, newest last.
  std::deque<double> lateness_;
  // The next buffer placed anchors the timeline: it waits for reports.
  bool anchoring_ = true;
  bool delivering_ = false;
};

}  // namespace mirevo::platform::pulse
