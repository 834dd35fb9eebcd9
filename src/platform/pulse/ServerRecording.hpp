// What a PulseStream does on the audio server: one connection, a
// RecordedSource per output, and the watch on the server's devices.
//
// - The system's audio starts on the display's monitor and then follows the
//   server's default sink; a microphone not named in the configuration
//   follows the default source. Any change of the server's defaults or of its
//   sinks and sources, and any end of a followed recorder's stream, asks the
//   rules again; a source with nothing to record delivers nothing until
//   something appears.
// - Every other sink that plays joins the system's audio (mixedMonitors in
//   SourceChoice says which): its monitor is recorded as soon as an
//   application's stream starts there (the sink inputs are watched too), and
//   left kLingerSeconds after the last one ended, or when the sink goes. A
//   SystemMix adds them to the default output's audio on the host clock.
//   While the default output plays alone, no other stream is open and its
//   buffers pass through the mix as they are.
// - A monitor recorded again (by the default output's recorder after a
//   switch, or by a joining sink's) goes on after the audio its last
//   recorder delivered: nothing is recorded twice.
// - A named microphone whose stream ends stops the stream: the delegate is
//   told once, with libpulse's text.
// - A lost connection hands over what was read, then is tried again a few
//   times a second for kReconnectSeconds; the sources resume by their rules
//   on the server that answers (a named microphone must be back by then). If
//   none does, the delegate is told once, with the lost connection's error.
//   Every wait for the new server ends with the window, so that one that
//   answers the connection and then hangs cannot hold the failure back.
// - Whatever tells the delegate of a stop, every output has handed over what
//   its recorder read before, and the mix has handed over what it held.
//
// Threads: the public calls and every task run on the worker, a serial queue
// of the capture service that outlives its streams; the delegate is told
// there. libpulse's callbacks run on the connection's loop thread and only
// hand buffers to the outputs' queues and post tasks to the worker.
#pragma once

#include <atomic>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/CaptureService.hpp"
#include "platform/Clock.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/StreamOutputs.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/RecordedSource.hpp"
#include "platform/pulse/SystemMix.hpp"

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

  // Connects and waits until every recorder runs; throws libpulse's error and
  // leaves nothing open.
  void start();
  // Takes in what the server sent before the stop and hands it over, ends
  // the recorders (waiting boundedly for the server) and closes the
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
  // How long a sink that joined the system's audio stays in it after its last
  // application's stream ended, and how often that is looked at meanwhile.
  static constexpr double kLingerSeconds = 3.0;
  static constexpr double kLingerCheckSeconds = 1.0;

 private:
  enum class State { idle, running, ended };
  // A sink that plays besides the default output, while it is in the mix.
  struct JoinedOutput {
    std::unique_ptr<RecordedSource> source;
    int input = 0;  // in the mix
    double lastPlayedSeconds = 0.0;
  };

  void addSources(double startSeconds);
  // Waits for the server at most `timeoutSeconds` to connect, and every
  // wait on the new connection ends within `waitsEndSeconds`.
  void connect(double timeoutSeconds,
               double waitsEndSeconds = std::numeric_limits<double>::infinity());
  bool followAll();
  // Which sinks join the mix and which leave it, around the default output
  // following its rule (unless told not to: at the start it records the
  // display's monitor).
  void followSystem(RecordedSource& system, const ServerDevices& devices, bool followDefault);
  void join(const std::string& monitor, double nowSeconds);
  void leave(std::map<std::string, JoinedOutput>::iterator joined);
  void leaveAll();
  // Every recorder of the stream, the joined outputs' too.
  template <class Action>
  void forEachSource(Action action);
  RecordedSource* systemSource() const;
  void retire();
  // Posts `task` to the worker, to run while this object lives.
  void post(std::function<void(ServerRecording&)> task);

  // On the loop thread.
  void connectionLost(std::uint64_t generation, int code);
  void serverChanged(pa_subscription_event_type_t event);
  void sourceEnded(int outputType, int code);

  // Tasks on the worker.
  void follow();
  void lost(std::uint64_t generation, int code);
  void retry();
  void report(int code);

  ContentFilter filter_;
  StreamConfiguration configuration_;
  std::shared_ptr<StreamDelegate> delegate_;
  const Clock& clock_;
  std::shared_ptr<SerialQueue> worker_;
  StreamOutputs outputs_;
  std::vector<std::unique_ptr<RecordedSource>> sources_;  // set up by start, then fixed
  std::unique_ptr<PulseConnection> connection_;
  // The system's audio, when it is recorded: fed by the recorders on the loop
  // thread, handing over to the output.
  std::unique_ptr<SystemMix> mix_;
  // With the connection's lock held (worker, loop thread).
  std::map<std::string, JoinedOutput> joined_;  // by monitor
  // Where the audio last recorded from each monitor ended.
  std::map<std::string, double> monitorEnds_;
  int nextInput_ = SystemMix::kDefaultInput + 1;
  double startSeconds_ = 0.0;
  // A follow is posted and has not run yet: the events of a burst ask once.
  std::atomic<bool> followPosted_{false};

  // Worker only.
  State state_ = State::idle;
  bool reported_ = false;
  std::uint64_t generation_ = 0;  // of connection_; tells stale loop events apart
  std::unique_ptr<RepeatingTimer> retry_;
  std::unique_ptr<RepeatingTimer> linger_;  // while a joined output lingers
  double retryUntil_ = 0.0;
  int lostCode_ = 0;
};

}  // namespace mirevo::platform::pulse
