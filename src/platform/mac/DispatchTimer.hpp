// The heartbeat's repeating timer on Dispatch: a timer source on the session's
// queue, first deadline when it is resumed, then every interval, with no
// leeway. A tick runs the handler only while the timer is not cancelled and
// the queue is open, so after cancel returns no tick starts.
//
// Objective-C++ only. Threads: resume and cancel from any thread.
#pragma once

#include <dispatch/dispatch.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/SerialQueue.hpp"

namespace mirevo::platform::mac {

class DispatchTimer final : public RepeatingTimer {
 public:
  // `queueOpen` is the queue's flag: false once the queue is destroyed.
  DispatchTimer(dispatch_queue_t queue, std::shared_ptr<const std::atomic<bool>> queueOpen,
                double intervalSeconds, std::function<void()> handler);
  ~DispatchTimer() override;
  DispatchTimer(const DispatchTimer&) = delete;
  DispatchTimer& operator=(const DispatchTimer&) = delete;

  void resume() override;
  void cancel() override;

 private:
  struct Ticks {
    std::atomic<bool> cancelled{false};
    std::function<void()> handler;
  };

  std::shared_ptr<Ticks> ticks_;
  std::uint64_t intervalNanoseconds_;
  dispatch_source_t source_;
  std::atomic<bool> resumed_{false};
};

}  // namespace mirevo::platform::mac
