#include "platform/mac/DispatchSerialQueue.hpp"

#include <utility>

#include "platform/mac/DispatchTimer.hpp"

namespace mirevo::platform::mac {
namespace {

// Its address tags each dispatch queue with the object that owns it.
char kOwnerKey;

}  // namespace

DispatchSerialQueue::DispatchSerialQueue(const std::string& label)
    : queue_(dispatch_queue_create(label.c_str(), DISPATCH_QUEUE_SERIAL)) {
  dispatch_queue_set_specific(queue_, &kOwnerKey, this, nullptr);
}

DispatchSerialQueue::~DispatchSerialQueue() {
  state_.close();
  dispatch_queue_set_specific(queue_, &kOwnerKey, nullptr, nullptr);
}

void DispatchSerialQueue::submit(std::function<void()> item) {
  dispatch_async(queue_, ^{
    item();
  });
}

void DispatchSerialQueue::submitAndWait(std::function<void()> item) {
  dispatch_sync(queue_, ^{
    item();
  });
}

bool DispatchSerialQueue::isCurrent() const {
  return dispatch_get_specific(&kOwnerKey) == static_cast<const void*>(this);
}

std::unique_ptr<RepeatingTimer> DispatchSerialQueue::makeTimer(double intervalSeconds,
                                                               std::function<void()> handler) {
  return std::make_unique<DispatchTimer>(queue_, state_.openFlag(), intervalSeconds,
                                         std::move(handler));
}

std::shared_ptr<SerialQueue> DispatchQueueFactory::makeSerialQueue(const std::string& label) {
  return std::make_shared<DispatchSerialQueue>(label);
}

}  // namespace mirevo::platform::mac
