// One recording session: the stream that delivers microphone and system audio,
// the serial queue every delivery is handled on, one accumulator per source,
// the heartbeat timer, and the `stopped` flag that makes a session end once,
// by `stop` or by `fail`, whichever reaches the queue first.
//
// Threads:
// - the command loop's thread: the constructor, start, stop, session, devices;
//   start and stop block until done and are never called on the queue;
// - the session's queue: the sample callback, every heartbeat tick, `fail`,
//   and the final step of stop; only these touch `stopped` and the
//   accumulators, so they need no lock;
// - a platform thread: the stop callback, which only hands `fail` to the queue.
//
// Lifetime: releasing the last reference stops nothing, flushes nothing and
// emits nothing. The stream is destroyed before the queue and reaches the
// session only through callbacks that hold it weakly, so nothing calls into a
// destroyed session. Work queued by the stop callback holds the session until
// it has run; the heartbeat does not.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "audio/AudioChunks.hpp"
#include "platform/Platform.hpp"

namespace mirevo {

class Capture : public std::enable_shared_from_this<Capture> {
 public:
  using Environment = platform::Platform;

  // Creates the session's serial queue; starts nothing, emits nothing. Make
  // it with std::make_shared: the stream reaches it through weak references.
  Capture(std::string session, platform::Platform& platform);
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  const std::string& session() const { return session_; }

  // The start sequence: permission, display, requested microphone, stream,
  // accumulators, outputs, capture, heartbeat. Throws the first failure's
  // platform::Error; emits nothing of its own. At most once per session.
  void start(const std::string& job, const std::optional<std::string>& device);

  // Cancels the heartbeat, stops the stream (throwing its error unchanged),
  // then on the queue flushes microphone and system and emits `completed`,
  // unless the session has already ended. May follow a failed start, and may
  // be repeated.
  void stop();

  // The `devices` array: every audio input device, the default one marked.
  static nlohmann::json devices(platform::Platform& platform);

  // The stream's callbacks. The sample callback runs on the queue; the stop
  // callback on any thread.
  void didOutputSampleBuffer(const platform::SampleBuffer& buffer, int outputType);
  void didStopWithError(const platform::Error& error);

  // What the session holds, for checks in tests. Call it only while nothing
  // runs on the queue.
  struct Holdings {
    double origin = 0.0;
    bool microphone = false;
    bool system = false;
    bool stream = false;
    bool timer = false;
    bool stopped = false;
  };
  Holdings inspect() const;

 private:
  void setUpHeartbeat();                    // on the queue
  void heartbeat();                         // on the queue
  void fail(const platform::Error& error);  // on the queue
  void finishStop();                        // on the queue

  // Declared so that the stream is destroyed before the queue it delivers to.
  const std::string session_;
  platform::Platform& platform_;
  const std::shared_ptr<platform::SerialQueue> queue_;
  std::unique_ptr<platform::Stream> stream_;
  std::unique_ptr<platform::RepeatingTimer> timer_;
  std::unique_ptr<audio::AudioChunks> microphone_;
  std::unique_ptr<audio::AudioChunks> system_;
  bool stopped_ = false;
  double origin_ = 0.0;
};

}  // namespace mirevo
