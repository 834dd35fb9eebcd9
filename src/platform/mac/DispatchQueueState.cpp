#include "platform/mac/DispatchQueueState.hpp"

#include <utility>

namespace mirevo::platform::mac {
namespace {

// Runs one item if the queue is still open, and releases what the item holds
// while still on the queue.
void runItem(const std::atomic<bool>& open, std::function<void()>& work) {
  if (open.load()) work();
  work = nullptr;
}

}  // namespace

void DispatchQueueState::async(std::function<void()> work) {
  if (!open_->load()) return;
  auto item = std::make_shared<std::function<void()>>(std::move(work));
  system_.submit([open = open_, item] { runItem(*open, *item); });
}

void DispatchQueueState::sync(std::function<void()> work) {
  if (!open_->load()) return;
  if (system_.isCurrent()) {
    work();
    return;
  }
  system_.submitAndWait([open = open_, &work] { runItem(*open, work); });
}

void DispatchQueueState::close() {
  open_->store(false);
  // Not on the queue itself: that would wait for the code closing it.
  // Returns once the item running now, if any, has finished: an empty item
  // after it.
  if (!system_.isCurrent()) system_.submitAndWait([] {});
}

}  // namespace mirevo::platform::mac
