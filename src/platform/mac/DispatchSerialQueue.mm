#include "platform/mac/DispatchSerialQueue.hpp"

#include <utility>

#include "platform/mac/DispatchTimer.hpp"

namespace mirevo::platform::mac {
namespace {

// Its address tags each dispatch queue with the object that owns it.
char kOwnerKey;

// Runs one item if the queue is still open, and releases what the item holds
// while still on the queue: it may hold the last reference to the queue's
// owner.
void runItem(const std::atomic<bool>& open, std::function<void()>& work) {
  if (open.load()) work();
  work = nullptr;
}

}  // namespace

DispatchSerialQueue::DispatchSerialQueue(const std::string& label)
    : open_(std::make_shared<std::atomic<bool>>(true)),
      queue_(dispatch_queue_create(label.c_str(), DISPATCH_QUEUE_SERIAL)) {
  dispatch_queue_set_specific(queue_, &kOwnerKey, this, nullptr);
}

DispatchSerialQueue::~DispatchSerialQueue() {
  open_->store(false);
  // Not on the queue itself: that would wait for the code destroying it.
  // Returns once the item running now, if any, has finished: an empty item
  // after it.
  if (!isCurrent()) dispatch_sync_f(queue_, nullptr, [](void*) {});
  dispatch_queue_set_specific(queue_, &kOwnerKey, nullptr, nullptr);
}

bool DispatchSerialQueue::isCurrent() const {
  return dispatch_get_specific(&kOwnerKey) == static_cast<const void*>(this);
}

void DispatchSerialQueue::async(std::function<void()> work) {
  if (!open_->load()) return;
  const auto item = std::make_shared<std::function<void()>>(std::move(work));
  const std::shared_ptr<std::atomic<bool>> open = open_;
  dispatch_async(queue_, ^{
    runItem(*open, *item);
  });
}

void DispatchSerialQueue::sync(std::function<void()> work) {
  if (!open_->load()) return;
  if (isCurrent()) {
    work();
    return;
  }
  std::function<void()>* item = &work;
  const std::shared_ptr<std::atomic<bool>> open = open_;
  dispatch_sync(queue_, ^{
    runItem(*open, *item);
  });
}

std::unique_ptr<RepeatingTimer> DispatchSerialQueue::makeTimer(double intervalSeconds,
                                                               std::function<void()> handler) {
  return std::make_unique<DispatchTimer>(queue_, open_, intervalSeconds, std::move(handler));
}

std::shared_ptr<SerialQueue> DispatchQueueFactory::makeSerialQueue(const std::string& label) {
  return std::make_shared<DispatchSerialQueue>(label);
}

}  // namespace mirevo::platform::mac
