// The rules of the heartbeat's repeating timer over the system's timer source
// (a dispatch timer source on the session's queue on the Mac,
// DispatchTimer): the first deadline when it is resumed, then every interval
// (in whole nanoseconds, at least one); resumed at most once and never after
// cancel; a tick runs the handler only while the timer is not cancelled and
// its queue is open, so after cancel returns no tick starts; and a source
// that never ran is resumed once cancelled, since the system must never
// release a suspended source.
//
// Threads: resume, cancel and finish from any thread; ticks on the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace mirevo::platform::mac {

// The calls into the system's timer source, which is created suspended.
class TimerSource {
 public:
  virtual ~TimerSource() = default;
  // Sets the first deadline to now, then every interval, and resumes.
  virtual void startTicking(std::uint64_t intervalNanoseconds) = 0;
  virtual void cancelSource() = 0;
  // Resumes a cancelled source that never ran; it runs no handler.
  virtual void resumeCancelled() = 0;
};

class DispatchTimerState {
 public:
  // `queueOpen` is the queue's flag: false once the queue is closed.
  DispatchTimerState(std::shared_ptr<const std::atomic<bool>> queueOpen, double intervalSeconds,
                     std::function<void()> handler);

  // The source's event handler: it outlives the timer in the system's hands.
  std::function<void()> tick() const;
  void resume(TimerSource& source);
  void cancel(TimerSource& source);
  // Before the source is released: cancels, and resumes a source that never
  // ran.
  void finish(TimerSource& source);

  static std::uint64_t intervalNanoseconds(double seconds);

 private:
  struct Ticks {
    std::shared_ptr<const std::atomic<bool>> queueOpen;
    std::atomic<bool> cancelled{false};
    std::function<void()> handler;
  };

  std::shared_ptr<Ticks> ticks_ = std::make_shared<Ticks>();
  std::uint64_t intervalNanoseconds_;
  std::atomic<bool> resumed_{false};
};

}  // namespace mirevo::platform::mac
