#include "platform/mac/DispatchTimerState.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace mirevo::platform::mac {

DispatchTimerState::DispatchTimerState(std::shared_ptr<const std::atomic<bool>> queueOpen,
                                       double intervalSeconds, std::function<void()> handler)
    : intervalNanoseconds_(intervalNanoseconds(intervalSeconds)) {
  ticks_->queueOpen = std::move(queueOpen);
  ticks_->handler = std::move(handler);
}

std::function<void()> DispatchTimerState::tick() const {
  return [ticks = ticks_] {
    if (!ticks->cancelled.load() && ticks->queueOpen->load()) ticks->handler();
  };
}

void DispatchTimerState::resume(TimerSource& source) {
  if (ticks_->cancelled.load() || resumed_.exchange(true)) return;
  source.startTicking(intervalNanoseconds_);
}

void DispatchTimerState::cancel(TimerSource& source) {
  if (ticks_->cancelled.exchange(true)) return;
  source.cancelSource();
}

void DispatchTimerState::finish(TimerSource& source) {
  cancel(source);
  if (!resumed_.exchange(true)) source.resumeCancelled();
}

std::uint64_t DispatchTimerState::intervalNanoseconds(double seconds) {
  return static_cast<std::uint64_t>(std::max(1.0, std::round(seconds * 1e9)));
}

}  // namespace mirevo::platform::mac
