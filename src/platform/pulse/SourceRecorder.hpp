// Records one source of the server into sample buffers: a record stream of
// float32 at the requested rate and channel count (the server converts). All
// that is readable at a wake-up becomes one buffer (split above a second),
// stamped on the host clock by a StreamTimeline.
//
// Threads: everything with the connection's lock held; the callbacks (hand
// over, failure) run on the libpulse loop thread.
#pragma once

#include <pulse/stream.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioFormat.hpp"
#include "platform/Clock.hpp"
#include "platform/SampleBuffer.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/StreamTimeline.hpp"

namespace mirevo::platform::pulse {

class SourceRecorder {
 public:
  struct Settings {
    std::string source;
    int sampleRate = 48000;
    int channelCount = 1;
  };
  using HandOver = std::function<void(std::shared_ptr<const SampleBuffer>)>;
  using Failure = std::function<void(int code)>;

  // Creates the record stream and asks the server to connect it; throws the
  // platform's Error when libpulse refuses at once.
  SourceRecorder(PulseConnection& connection, const Clock& clock, const Settings& settings,
                 HandOver handOver, Failure failure);
  // Disconnects without waiting and releases the stream; no callback follows.
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
  // Asks the server to end the stream; ended() turns true when it has.
  void disconnect();

  // The longest buffer handed over, in seconds: a longer fragment is split.
  static constexpr double kMaxBufferSeconds = 1.0;
  // How much audio the server gathers before it sends a fragment.
  static constexpr double kFragmentSeconds = 0.050;

 private:
  static void stateChanged(pa_stream* stream, void* self);
  static void readable(pa_stream* stream, std::size_t bytes, void* self);
  void readAll();
  void handOver(const std::vector<float>& samples, std::optional<double> captured, double now);
  std::optional<double> capturedSeconds(double nowSeconds) const;

  PulseConnection& connection_;
  const Clock& clock_;
  AudioFormat format_;
  HandOver handOver_;
  Failure failure_;
  StreamTimeline timeline_;
  pa_stream* stream_ = nullptr;
  bool delivering_ = false;
  bool disconnecting_ = false;
};

}  // namespace mirevo::platform::pulse
