// Records one source of the server into sample buffers: a record stream of
// float32 at the requested rate and channel count (the server converts). Reads
// are gathered into buffers of at least 450 ms (split above a second), so that
// the session's queue wakes a few times a second rather than at every
// fragment the server sends; each buffer is stamped on the host clock by a
// StreamTimeline. A gap between reads hands over what was gathered first.
//
// A read is timed by where its first frame lies in the stream, as the
// server's timing reports place the stream's frames on the host clock
// (CaptureOrigin): two sources that hear one sound then give it one time,
// however each server gathers and sends its fragments. Until the reports say
// so, and whenever they disagree with the moment the read arrived by more
// than a gap (the count broke since the last report), the moment of arrival
// times it instead. The first buffer, and the first after the count broke,
// anchor the timeline: they wait for a few reports, the last made after the
// first of them was read, one asked at each read. The reports of every stream
// on the connection are asked together.
//
// Audio the server lost (a PipeWire server that misses its processing cycles
// drops them from the stream) is filled with silence of its length, so that
// what follows keeps its time rather than moving earlier by the loss. A read
// that arrives later, against the count, than the recent reads did by more
// than CaptureOrigin::kJumpSeconds may follow a loss: reports are asked at
// once, and at each read while they doubt, rather than every few seconds.
// The silence goes before the audio not yet handed over. Nothing waits for
// the reports to tell (they take a few reads): audio of the default output
// held that long would come after the other outputs' audio had been mixed
// without it. What was handed over between the loss and its telling (half a
// second, about) keeps the time the count gave it.
// Frames captured before the settings' floor are left out (see
// StreamTimeline).
//
// What the server sends is taken when the connection settles, so that a batch
// of fragments is read, and timed, as one. Reads of a source whose fragments
// are short may wait for the rest of a batch period: such a source sends
// again soon after, so what waits is still timed within a few milliseconds.
//
// Whatever ends the recorder's part (a stop, a switch to another source, a
// failure of the stream or of the connection), what was read is handed over
// first: the failure is told afterwards.
//
// Threads: everything with the connection's lock held; the callbacks (hand
// over, failure) run on the libpulse loop thread.
#pragma once

#include <pulse/stream.h>

#include <atomic>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/AudioFormat.hpp"
#include "platform/Clock.hpp"
#include "platform/SampleBuffer.hpp"
#include "platform/pulse/CaptureOrigin.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/StreamTimeline.hpp"

namespace mirevo::platform::pulse {

class SourceRecorder final : private PulseConnection::Reader {
 public:
  struct Settings {
    std::string source;
    int sampleRate = 48000;
    int channelCount = 1;
    // Where the recording starts, or where an earlier recorder of the same
    // output ended.
    double floorSeconds = -std::numeric_limits<double>::infinity();
    // Counts the frames read for delivery, when given; any thread may read it.
    std::atomic<std::int64_t>* framesRead = nullptr;
  };
  using HandOver = std::function<void(std::shared_ptr<const SampleBuffer>)>;
  using Failure = std::function<void(int code)>;

  // Creates the record stream and asks the server to connect it; throws the
  // platform's Error when libpulse refuses at once.
  SourceRecorder(PulseConnection& connection, const Clock& clock, const Settings& settings,
                 HandOver handOver, Failure failure);
  // Disconnects without waiting and releases the stream; no callback follows.
  // Hands over nothing: finish first to keep what was read.
  ~SourceRecorder();
  SourceRecorder(const SourceRecorder&) = delete;
  SourceRecorder& operator=(const SourceRecorder&) = delete;

  bool ready() const { return pa_stream_get_state(stream_) == PA_STREAM_READY; }
  // Failed or terminated.
  bool ended() const;
  int errorCode() const;

  // Until delivering, what arrives is read and dropped: it was captured before
  // the recording started.
  void startDelivering() { delivering_ = true; }
  // Reads what is waiting and hands over everything gathered, what the
  // timeline still holds included; delivery goes on.
  void handOverRead();
  // As handOverRead, and then nothing more is handed over and no failure
  // told.
  void finish();
  // Asks the server to end the stream; ended() turns true when it has.
  void disconnect();
  // Where the audio handed over ends; the floor while none was.
  double endSeconds() const { return timeline_.endSeconds(); }

  // The longest buffer handed over, in seconds: a longer fragment is split.
  static constexpr double kMaxBufferSeconds = 1.0;
  // How much audio the server gathers before it sends a fragment. PipeWire
  // then sends a few times a second rather than twenty, and the library's
  // thread wakes as seldom. PulseAudio sends what its source posts at once
  // and takes this as the latency to ask of the source (half of it). The
  // heartbeat's level, taken from the latest buffer, still comes from the
  // last second.
  static constexpr double kFragmentSeconds = 0.250;
  // How much audio a handed-over buffer holds at least: a little under two
  // of PipeWire's fragments, so that the session's queue wakes about twice a
  // second for each source (each wake-up costs more than its audio does).
  static constexpr double kHandOverSeconds = 0.450;
  // Fragments this short, on average, may wait for a batch: a PulseAudio
  // monitor passes on every block its sink renders, a few milliseconds each.
  static constexpr double kShortFragmentSeconds = 0.020;
  // How many fragments are seen before they are judged.
  static constexpr int kFragmentsJudged = 16;
  // How often the server is asked for its timing once the stream's first
  // buffer is placed: the source's latency changes only when the source's own
  // settings do, and the count of frames drifts from the host clock by no
  // more than the clocks do.
  static constexpr double kTimingSeconds = 5.0;
  // How many timing reports a buffer that anchors the timeline waits for, and
  // how much audio waits for them at most.
  static constexpr std::size_t kAnchorReports = 3;
  static constexpr double kReportWaitSeconds = 1.0;
  // How many of the latest reads' lateness a read is weighed against.
  static constexpr std::size_t kLatenessKept = 8;

 private:
  static void stateChanged(pa_stream* stream, void* self);
  static void readable(pa_stream* stream, std::size_t bytes, void* self);
  static void timingUpdated(pa_stream* stream, void* self);
  void takeArrived() override;
  bool mayWait() const override;
  void countFragment(std::size_t bytes);
  void askForTiming(double nowSeconds);
  bool wantsTiming(double nowSeconds) const;
  void askTiming() override;
  void timingArrived(const pa_timing_info* timing);
  // Whether the gathered audio may be placed: a report times it, or it
  // waited for one long enough.
  bool mayPlace() const;
  // Whether a read arrived later, against the count, than the recent reads
  // did by more than CaptureOrigin::kJumpSeconds.
  bool arrivedLate(double lateness);
  // Fills `frames` lost frames with silence, before the audio not yet handed
  // over.
  void fillLoss(std::int64_t frames);
  // Puts `frames` frames of silence at the head of the gathered audio.
  void prependSilence(std::int64_t frames);
  // After the count broke, the new count puts the gathered audio at
  // `captured`: later than where the timeline ends by less than a gap, on a
  // server that drops cycles, the difference is a loss (the timeline would
  // let it pass as noise) and is filled; `captured` moves to its start.
  void fillLossAcrossBreak(double& captured);
  // When the frame at `index` of the recorded audio was captured: as the
  // timing reports count it, unless they are missing or disagree with
  // `arrivalSeconds`, the time its read arrived tells.
  double captureTimeOf(std::int64_t index, double arrivalSeconds);
  void reportEnd(int code);
  void readAll();
  // Before the timeline is anchored: drops the gathered frames from before
  // the floor and moves `captured` to the first frame kept.
  void leaveOutBeforeFloor(double& captured);
  void handOverPending();
  // Also what the timeline holds back.
  void handOverAll();
  void deliverSettled(const std::vector<double>& startSeconds);
  void deliver(std::vector<float> samples, double startSeconds);
  std::size_t pendingFrames() const;
  std::size_t readableBytes() const;
  double capturedSeconds(double nowSeconds, std::size_t waitingBytes) const;

  PulseConnection& connection_;
  const Clock& clock_;
  AudioFormat format_;
  HandOver handOver_;
  Failure failure_;
  StreamTimeline timeline_;
  std::atomic<std::int64_t>* framesRead_;
  pa_stream* stream_ = nullptr;
  CaptureOrigin origin_;
  // Frames taken from the stream since it began, those dropped included: the
  // stream's own count, which the server's write index counts too.
  std::int64_t framesTaken_ = 0;
  std::vector<float> pending_;          // gathered, not yet handed over
  double pendingCaptured_ = 0.0;        // capture time of its first frame, on arrival
  std::int64_t pendingFirstFrame_ = 0;  // in the stream
  std::int64_t pendingFirstIndex_ = 0;  // in the recorded audio, silence included
  // The lateness of the latest reads against the count, newest last.
  std::deque<double> lateness_;
  // The next buffer placed anchors the timeline: it waits for a report.
  bool anchoring_ = true;

  // Handed to the timeline but not yet settled by it, oldest first.
  std::deque<std::vector<float>> unsettled_;
  // What the source held at the server's last timing report.
  double serverLatencySeconds_ = 0.0;
  double timingAskedAt_ = 0.0;
  bool delivering_ = false;
  bool quiet_ = false;    // no failure is told any more
  bool arrived_ = false;  // since the last read
  // The length of the fragments the server sends, in frames: a running
  // average, and how many were seen.
  double fragmentFrames_ = 0.0;
  int fragmentsSeen_ = 0;
};

}  // namespace mirevo::platform::pulse
