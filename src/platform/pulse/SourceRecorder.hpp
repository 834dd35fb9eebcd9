// Records one source of the server into sample buffers: a record stream of
// float32 at the requested rate and channel count (the server converts). Reads
// are gathered into buffers of at least 200 ms (split above a second), so that
// the session's queue wakes a few times a second rather than at every
// fragment the server sends; each buffer is stamped on the host clock by a
// StreamTimeline. A gap between reads hands over what was gathered first.
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
  // How much audio a handed-over buffer holds at least.
  static constexpr double kHandOverSeconds = 0.200;
  // Fragments this short, on average, may wait for a batch: a PulseAudio
  // monitor passes on every block its sink renders, a few milliseconds each.
  static constexpr double kShortFragmentSeconds = 0.020;
  // How many fragments are seen before they are judged.
  static constexpr int kFragmentsJudged = 16;
  // How often the server is asked for the source's latency: it changes only
  // when the source's own settings do.
  static constexpr double kTimingSeconds = 5.0;

 private:
  static void stateChanged(pa_stream* stream, void* self);
  static void readable(pa_stream* stream, std::size_t bytes, void* self);
  static void timingUpdated(pa_stream* stream, void* self);
  void takeArrived() override;
  bool mayWait() const override;
  void countFragment(std::size_t bytes);
  void askForTiming(double nowSeconds);
  void reportEnd(int code);
  void readAll();
  // With pending_ holding only the newest read: drops its frames from before
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
  std::vector<float> pending_;    // gathered, not yet handed over
  double pendingCaptured_ = 0.0;  // capture time of its first frame
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
