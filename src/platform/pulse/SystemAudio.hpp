// The system's audio of a recording: the default output's chosen source, the
// other outputs that joined it while they play (and linger), and the
// SystemMix that adds them on the host clock and hands the result to the
// stream's audio output.
//
// - It starts on the display's monitor; from then on the default output's
//   chosen source records the server's default sink.
// - Every other sink that plays joins (mixedMonitors in SourceChoice says
//   which): its monitor is recorded as soon as an application's stream starts
//   there, and left kLingerSeconds after the last one ended, or when the sink
//   goes. While the default output plays alone, no other stream is open and
//   its buffers pass through the mix as they are.
// - A monitor recorded again (by the default output's chosen source after a
//   switch, or by a joining sink's) goes on after the audio its last
//   record stream delivered: nothing is recorded twice.
// - Whatever ends its record streams' part (finish, handOverRead, retire), the mix
//   hands over what it held afterwards.
//
// Threads: every call on the stream's worker with the connection's lock
// held. The record streams hand over to the mix on the libpulse loop thread (which
// holds the lock whenever it runs our code); `ended` is told there too, when
// a record stream ends on its own. `lookAgain` runs on the worker, from
// the linger timer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/AudioFormat.hpp"
#include "platform/Clock.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/pulse/ChosenSource.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/PulseQueries.hpp"
#include "platform/pulse/SystemMix.hpp"

namespace mirevo::platform::pulse {

class SystemAudio {
 public:
  // `settings` are the default output's (its output type, rate, channels and
  // the recording's start); `handOver` takes the mix's buffers; `ended` is
  // told as ChosenSource's is; `lookAgain` asks, while an output lingers,
  // that the server's devices be looked at again.
  SystemAudio(const ChosenSource::Settings& settings, const Clock& clock,
              std::shared_ptr<SerialQueue> worker, SystemMix::HandOver handOver,
              ChosenSource::Ended ended, std::function<void()> lookAgain);
  SystemAudio(const SystemAudio&) = delete;
  SystemAudio& operator=(const SystemAudio&) = delete;

  // The default output's chosen source.
  ChosenSource& defaultOutput() { return defaultOutput_; }

  // Which sinks join the mix and which leave it, around the default output
  // applying its rule (unless told not to: at the start it records the
  // display's monitor).
  void applyRules(PulseConnection& connection, const ServerDevices& devices, bool chooseDefault);
  // Hands over everything every record stream has read, then what the mix holds;
  // the record streams go on.
  void handOverRead();
  // As handOverRead, and then the record streams deliver and tell nothing more.
  void finish();
  // Asks the server to end every record stream.
  void disconnect();
  // Every record stream has ended (or there is none).
  bool ended() const;
  // Every joined output leaves and the default output's chosen source is retired;
  // the mix hands over what it held. The outputs that play on the server
  // that answers next join again.
  void retire();
  // Lets every record stream go at once; nothing more is handed over.
  void release();
  // No more looks while an output lingers.
  void stopLingering() { linger_.reset(); }

  // Frames the default output's chosen source read for delivery.
  std::int64_t framesRead() const { return defaultOutput_.framesRead(); }

  // How long a sink that joined the system's audio stays in it after its last
  // application's stream ended, and how often that is looked at meanwhile.
  static constexpr double kLingerSeconds = 3.0;
  static constexpr double kLingerCheckSeconds = 1.0;

 private:
  // A sink that plays besides the default output, while it is in the mix.
  struct JoinedOutput {
    std::unique_ptr<ChosenSource> source;
    int input = 0;  // in the mix
    double lastPlayedSeconds = 0.0;
  };

  void join(PulseConnection& connection, const std::string& monitor, double nowSeconds);
  void leave(std::map<std::string, JoinedOutput>::iterator joined);
  void leaveAll();
  // Every chosen source: the default output's, then the joined outputs'.
  template <class Action>
  void forEachSource(Action action);
  template <class Action>
  void forEachSource(Action action) const;

  ChosenSource::Settings settings_;
  const Clock& clock_;
  std::shared_ptr<SerialQueue> worker_;
  ChosenSource::Ended ended_;
  std::function<void()> lookAgain_;
  SystemMix mix_;
  ChosenSource defaultOutput_;
  std::map<std::string, JoinedOutput> joined_;  // by monitor
  // Where the audio last recorded from each monitor ended.
  std::map<std::string, double> monitorEnds_;
  int nextInput_ = SystemMix::kDefaultInput + 1;
  std::unique_ptr<RepeatingTimer> linger_;  // while a joined output lingers
};

}  // namespace mirevo::platform::pulse
