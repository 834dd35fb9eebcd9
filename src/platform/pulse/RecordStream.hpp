// Records one source of the server into sample buffers: a record stream of
// float32 at the requested rate and channel count (the server converts).
// This is the libpulse side alone: the stream's callbacks, taking what
// arrived (peek and drop), asking the server for its timing, and judging the
// fragments it sends. Each read and each timing report goes to a ReadPlacer,
// which places the audio on the host clock and hands it over.
//
// What the server sends is taken when the connection's batch ends, so that a batch
// of fragments is read, and timed, as one. Reads of a source whose fragments
// are short may wait for the rest of a batch period: such a source sends
// again soon after, so what waits is still timed within a few milliseconds.
// The reports of every stream on the connection are asked together, at each
// read while the placer wants them, else every kTimingSeconds.
//
// Whatever ends the record stream's part (a stop, a switch to another source, a
// failure of the stream or of the connection), what was read is handed over
// first: the failure is told afterwards.
//
// Threads: everything with the connection's lock held; the callbacks (hand
// over, failure) run on the libpulse loop thread.
#pragma once

#include <pulse/stream.h>

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "platform/AudioFormat.hpp"
#include "platform/Clock.hpp"
#include "platform/SampleBuffer.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/ReadPlacer.hpp"

namespace mirevo::platform::pulse {

class RecordStream final : private PulseConnection::Reader {
 public:
  // Told every read and timing report as the placer takes them: a test tool
  // records them as a trace to replay.
  class Listener {
   public:
    virtual void read(const ReadPlacer::Read& read) = 0;
    virtual void report(const ReadPlacer::Report& report) = 0;

   protected:
    ~Listener() = default;
  };
  struct Settings {
    std::string source;
    int sampleRate = 48000;
    int channelCount = 1;
    // Where the recording starts, or where an earlier record stream of the same
    // output ended.
    double floorSeconds = -std::numeric_limits<double>::infinity();
    // Counts the frames read for delivery, when given; any thread may read it.
    std::atomic<std::int64_t>* framesRead = nullptr;
    Listener* listener = nullptr;
  };
  using HandOver = std::function<void(std::shared_ptr<const SampleBuffer>)>;
  using Failure = std::function<void(int code)>;

  // Creates the record stream and asks the server to connect it; throws the
  // platform's Error when libpulse refuses at once.
  RecordStream(PulseConnection& connection, const Clock& clock, const Settings& settings,
               HandOver handOver, Failure failure);
  // Disconnects without waiting and releases the stream; no callback follows.
  // Hands over nothing: finish first to keep what was read.
  ~RecordStream();
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

  bool ready() const { return pa_stream_get_state(stream_) == PA_STREAM_READY; }
  // Failed or terminated.
  bool ended() const;
  int errorCode() const;

  // Until delivering, what arrives is read and dropped: it was captured before
  // the recording started.
  void startDelivering() { placer_.startDelivering(); }
  // Reads what is waiting and hands over everything gathered, what the
  // timeline still holds included; delivery goes on.
  void handOverRead();
  // As handOverRead, and then nothing more is handed over and no failure
  // told.
  void finish();
  // Asks the server to end the stream; ended() turns true when it has.
  void disconnect();
  // Where the audio handed over ends; the floor while none was.
  double endSeconds() const { return placer_.endSeconds(); }

  // How much audio the server gathers before it sends a fragment. PipeWire
  // then sends a few times a second rather than twenty, and the library's
  // thread wakes as seldom. PulseAudio sends what its source posts at once
  // and takes this as the latency to ask of the source (half of it). The
  // heartbeat's level, taken from the latest buffer, still comes from the
  // last second.
  static constexpr double kFragmentSeconds = 0.250;
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

 private:
  static void stateChanged(pa_stream* stream, void* self);
  static void readable(pa_stream* stream, std::size_t bytes, void* self);
  static void timingUpdated(pa_stream* stream, void* self);
  void takeArrived() override;
  bool mayWait() const override;
  void countFragment(std::size_t bytes);
  void askForTiming(double nowSeconds);
  void askTiming() override;
  void timingArrived(const pa_timing_info* timing);
  void reportEnd(int code);
  void readAll();
  std::size_t readableBytes() const;

  PulseConnection& connection_;
  const Clock& clock_;
  AudioFormat format_;
  Failure failure_;
  ReadPlacer placer_;
  Listener* listener_;
  pa_stream* stream_ = nullptr;
  // Frames taken from the stream since it began, those dropped included: the
  // stream's own count, which the server's write index counts too.
  std::int64_t framesTaken_ = 0;
  ReadPlacer::Read read_;  // the latest read
  double timingAskedAt_ = 0.0;
  bool quiet_ = false;    // no failure is told any more
  bool arrived_ = false;  // since the last read
  // The length of the fragments the server sends, in frames: a running
  // average, and how many were seen.
  double fragmentFrames_ = 0.0;
  int fragmentsSeen_ = 0;
};

}  // namespace mirevo::platform::pulse
