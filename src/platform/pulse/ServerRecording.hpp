// What a PulseStream does on the audio server: the life of its one
// connection (connect, loss, reconnection, stop), the system's audio
// (SystemAudio) and the microphone's ChosenSource on it, the watch on the
// server's devices, and what the delegate is told.
//
// - The system's audio starts on the display's monitor and then records the
//   server's default sink, with the other sinks that play mixed in (see
//   SystemAudio); a microphone not named in the configuration records the
//   default source. Any change of the server's defaults, of its sinks and
//   sources or of an application's stream, and any end of a record stream chosen by a rule, asks
//   the rules again; a source with nothing to record delivers nothing until something appears.
// - A named microphone whose stream ends stops the stream: the delegate is
//   told once, with libpulse's text.
// - A lost connection hands over what was read, then is tried again a few
//   times a second for kReconnectSeconds; the sources resume by their rules
//   on the server that answers (a named microphone must be back by then). If
//   none does, the delegate is told once, with the lost connection's error.
//   Every wait for the new server ends with the window, so that one that
//   answers the connection and then hangs cannot hold the failure back.
// - Whatever tells the delegate of a stop, every output has handed over what
//   its record stream read before, and the mix has handed over what it held.
//
// Threads: the public calls and every task run on the worker, a serial queue
// of the capture service that outlives its streams; the delegate is told
// there. libpulse's callbacks run on the connection's loop thread and only
// hand buffers to the outputs' queues (through the mix, for the system's
// audio) and post tasks to the worker.
#pragma once

#include <atomic>
#include <limits>
#include <memory>

#include "platform/CaptureService.hpp"
#include "platform/Clock.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/StreamOutputs.hpp"
#include "platform/pulse/ChosenSource.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/SystemAudio.hpp"

namespace mirevo::platform::pulse {

class ServerRecording : public std::enable_shared_from_this<ServerRecording> {
 public:
  ServerRecording(const ContentFilter& filter, const StreamConfiguration& configuration,
                  std::shared_ptr<StreamDelegate> delegate, const Clock& clock,
                  std::shared_ptr<SerialQueue> worker);
  ~ServerRecording();
  ServerRecording(const ServerRecording&) = delete;
  ServerRecording& operator=(const ServerRecording&) = delete;

  // Registered before start; closed by the stream's owner.
  StreamOutputs& outputs() { return outputs_; }

  // Connects and waits until every record stream runs; throws libpulse's error and
  // leaves nothing open.
  void start();
  // Takes in what the server sent before the stop and hands it over, ends
  // the record streams (waiting boundedly for the server) and closes the
  // connection.
  void stop();
  // Closes everything at once; nothing is handed over or told afterwards.
  void release();

  // Frames read for the output type so far; any thread, once start returned.
  std::int64_t framesRead(int outputType) const;

  // How long a lost server is tried again, and how often.
  static constexpr double kReconnectSeconds = 10.0;
  static constexpr double kRetrySeconds = 0.25;
  // How long one attempt waits for an answer.
  static constexpr double kAttemptSeconds = 1.0;
  // How long a stop waits for what the server sent before it, and then for
  // the server to confirm.
  static constexpr double kCatchUpSeconds = 1.0;
  static constexpr double kStopTimeoutSeconds = 2.0;

 private:
  enum class State { idle, running, ended };

  void addSources(double startSeconds);
  // Waits for the server at most `timeoutSeconds` to connect, and every
  // wait on the new connection ends within `waitsEndSeconds`.
  void connect(double timeoutSeconds,
               double waitsEndSeconds = std::numeric_limits<double>::infinity());
  bool applyAllRules();
  // The default output's and the microphone's chosen sources: those the start
  // waits for.
  template <class Action>
  void forEachOwnSource(Action action);
  void retire();
  // Posts `task` to the worker, to run while this object lives.
  void post(std::function<void(ServerRecording&)> task);

  // On the loop thread.
  void connectionLost(std::uint64_t generation, int code);
  void serverChanged(pa_subscription_event_type_t event);
  void sourceEnded(int outputType, int code);

  // Tasks on the worker.
  void applyRules();
  void lost(std::uint64_t generation, int code);
  void retry();
  void report(int code);

  ContentFilter filter_;
  StreamConfiguration configuration_;
  std::shared_ptr<StreamDelegate> delegate_;
  const Clock& clock_;
  std::shared_ptr<SerialQueue> worker_;
  StreamOutputs outputs_;
  std::unique_ptr<PulseConnection> connection_;
  // Set up by start, then fixed; each when it is recorded. With the
  // connection's lock held (worker, loop thread).
  std::unique_ptr<SystemAudio> system_;
  std::unique_ptr<ChosenSource> microphone_;
  // Applying the rules is posted and has not run yet: the events of a burst ask once.
  std::atomic<bool> rulesPosted_{false};

  // Worker only.
  State state_ = State::idle;
  bool reported_ = false;
  std::uint64_t generation_ = 0;  // of connection_; tells stale loop events apart
  std::unique_ptr<RepeatingTimer> retry_;
  double retryUntil_ = 0.0;
  int lostCode_ = 0;
};

}  // namespace mirevo::platform::pulse
