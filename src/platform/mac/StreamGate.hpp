// The state of one capture stream that its callbacks consult, kept in
// atomics: the thread that starts and stops the stream, the queue its buffers
// arrive on and the system's thread that reports its stops all read it, and
// none of them may wait for another here.
//
// The start can be given up: a wait for the system's answer has a deadline,
// and an answer that comes after it must not let buffers through.
#pragma once

#include <atomic>

namespace mirevo::platform::mac {

class StreamGate {
 public:
  // From the start's completion handler, on success: capture runs. False
  // when the start had been given up before.
  bool markStarted();
  // From the starting thread, when the start took too long. True when the
  // start is given up, so that a later success counts for nothing; false when
  // it succeeded just now after all.
  bool giveUpStart();
  // Before asking the system to stop: a stop is no longer reported.
  void markStopping();
  // Once the system has stopped capture (or has been asked to, after a start
  // that was given up).
  void markStopped();
  // Teardown: afterwards no buffer and no report passes.
  void close();

  bool open() const { return open_.load(); }
  // Started and not yet stopped.
  bool running() const { return phase_.load() == kStarted; }
  bool givenUp() const { return phase_.load() == kGivenUp; }
  // Whether a buffer that arrives now goes to its output: capture started
  // once and the stream is open. Buffers the system queued before its stop
  // still pass.
  bool passesBuffers() const { return open_.load() && delivering_.load(); }
  // Whether a stop the system reports goes to the delegate: true at most
  // once, only while capture runs and no stop has been asked for.
  bool takeStopReport();
  // Whether a stop has been reported: stopping the capture afterwards may
  // fail, and that is no news.
  bool stopReported() const { return reported_.load(); }

 private:
  static constexpr int kIdle = 0;
  static constexpr int kStarted = 1;
  static constexpr int kGivenUp = 2;
  static constexpr int kStopped = 3;

  std::atomic<int> phase_{kIdle};
  std::atomic<bool> delivering_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> reported_{false};
  std::atomic<bool> open_{true};
};

}  // namespace mirevo::platform::mac
