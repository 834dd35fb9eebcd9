#include "platform/mac/DispatchTimer.hpp"

#include <utility>

namespace mirevo::platform::mac {

DispatchTimer::DispatchTimer(dispatch_queue_t queue,
                             std::shared_ptr<const std::atomic<bool>> queueOpen,
                             double intervalSeconds, std::function<void()> handler)
    : state_(std::move(queueOpen), intervalSeconds, std::move(handler)),
      source_(dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue)) {
  const std::function<void()> tick = state_.tick();
  dispatch_source_set_event_handler(source_, ^{
    tick();
  });
}

DispatchTimer::~DispatchTimer() {
  state_.finish(*this);
}

void DispatchTimer::startTicking(std::uint64_t intervalNanoseconds) {
  dispatch_source_set_timer(source_, dispatch_time(DISPATCH_TIME_NOW, 0), intervalNanoseconds, 0);
  dispatch_resume(source_);
}

void DispatchTimer::cancelSource() {
  dispatch_source_cancel(source_);
}

void DispatchTimer::resumeCancelled() {
  dispatch_resume(source_);
}

}  // namespace mirevo::platform::mac
