#include "platform/mac/DispatchTimer.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace mirevo::platform::mac {

DispatchTimer::DispatchTimer(dispatch_queue_t queue,
                             std::shared_ptr<const std::atomic<bool>> queueOpen,
                             double intervalSeconds, std::function<void()> handler)
    : ticks_(std::make_shared<Ticks>()),
      intervalNanoseconds_(static_cast<std::uint64_t>(
          std::max(1.0, std::round(intervalSeconds * static_cast<double>(NSEC_PER_SEC))))),
      source_(dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue)) {
  ticks_->handler = std::move(handler);
  const std::shared_ptr<Ticks> ticks = ticks_;
  dispatch_source_set_event_handler(source_, ^{
    if (!ticks->cancelled.load() && queueOpen->load()) ticks->handler();
  });
}

DispatchTimer::~DispatchTimer() {
  cancel();
  // Dispatch must never release a source that is still suspended; a
  // cancelled source, once resumed, runs no handler.
  if (!resumed_.exchange(true)) dispatch_resume(source_);
}

void DispatchTimer::resume() {
  if (ticks_->cancelled.load() || resumed_.exchange(true)) return;
  dispatch_source_set_timer(source_, dispatch_time(DISPATCH_TIME_NOW, 0), intervalNanoseconds_, 0);
  dispatch_resume(source_);
}

void DispatchTimer::cancel() {
  if (ticks_->cancelled.exchange(true)) return;
  dispatch_source_cancel(source_);
}

}  // namespace mirevo::platform::mac
