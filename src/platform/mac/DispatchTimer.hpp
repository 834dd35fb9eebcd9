// The heartbeat's repeating timer on Dispatch: a timer source on the session's
// queue with no leeway. Its rules (resume once, no tick after cancel, the
// interval in nanoseconds) are DispatchTimerState's; here only the calls into
// Dispatch.
//
// Objective-C++ only. Threads: resume and cancel from any thread.
#pragma once

#include <dispatch/dispatch.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/SerialQueue.hpp"
#include "platform/mac/DispatchTimerState.hpp"

namespace mirevo::platform::mac {

class DispatchTimer final : public RepeatingTimer, TimerSource {
 public:
  // `queueOpen` is the queue's flag: false once the queue is destroyed.
  DispatchTimer(dispatch_queue_t queue, std::shared_ptr<const std::atomic<bool>> queueOpen,
                double intervalSeconds, std::function<void()> handler);
  ~DispatchTimer() override;
  DispatchTimer(const DispatchTimer&) = delete;
  DispatchTimer& operator=(const DispatchTimer&) = delete;

  void resume() override { state_.resume(*this); }
  void cancel() override { state_.cancel(*this); }

 private:
  void startTicking(std::uint64_t intervalNanoseconds) override;
  void cancelSource() override;
  void resumeCancelled() override;

  DispatchTimerState state_;
  dispatch_source_t source_;
};

}  // namespace mirevo::platform::mac
