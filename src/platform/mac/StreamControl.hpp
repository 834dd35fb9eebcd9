// How one capture stream is started, stopped and torn down, over the calls
// into the system's stream (SystemStream; ScreenCaptureKit's SCStream on the
// Mac, MacStream). Starting and stopping await the system's answer with a
// deadline. A start that passes its deadline is given up: if it succeeds
// later, the stream is stopped again and none of its buffers is delivered,
// and a stop afterwards swallows whatever the system answers. A stream that
// stopped on its own with an error has reported that once to the delegate
// (StreamLink); stopping it afterwards succeeds.
//
// Threads: start and stop from one thread at a time, never an output's
// queue; the system's answers on any thread; teardown from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/Error.hpp"
#include "platform/mac/CompletionAnswer.hpp"
#include "platform/mac/StreamLink.hpp"

namespace mirevo::platform::mac {

// The calls into the system's stream. Each answer comes once, on any thread,
// or never.
class SystemStream {
 public:
  // True from the start's answer when the capture that has just started must
  // be stopped at once: its start had been given up.
  using StartAnswer = std::function<bool(std::optional<Error>)>;
  using StopAnswer = std::function<void(std::optional<Error>)>;

  virtual ~SystemStream() = default;
  virtual void requestStart(StartAnswer answer) = 0;
  // Without an answer (empty): asks to stop and does not wait.
  virtual void requestStop(StopAnswer answer) = 0;
  virtual void removeOutput(int outputType) = 0;
};

class StreamControl {
 public:
  StreamControl(std::shared_ptr<StreamLink> link, SystemStream& stream,
                CompletionFactory makeCompletion);

  // Throws the system's error or a timeout; returns when capture runs, or
  // when a start given up at its deadline turned out to have succeeded just
  // then.
  void start();
  // Does nothing when capture never started; throws the system's error or a
  // timeout, except after a start that was given up or a stop the system
  // reported.
  void stop();
  // Closes the link (waiting for a call in progress on an output's queue),
  // asks the system to stop a capture that still runs, or may run after a
  // start that was given up, without waiting, and removes the outputs. A
  // buffer the system has already queued finds the link closed.
  void teardown();

 private:
  // Asks the system to stop and waits for its answer; throws its error.
  void awaitStop();

  std::shared_ptr<StreamLink> link_;
  SystemStream& stream_;
  CompletionFactory makeCompletion_;
};

}  // namespace mirevo::platform::mac
