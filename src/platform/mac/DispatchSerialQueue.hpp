// The session's serial queue on Dispatch: a serial dispatch queue whose label
// is the one asked for, so that ScreenCaptureKit can deliver sample buffers on
// it directly. Its rules (work skipped once the queue is destroyed, sync from
// the queue itself in place) are DispatchQueueState's; here only the calls
// into Dispatch.
//
// Objective-C++ only. Threads: any thread.
#pragma once

#include <dispatch/dispatch.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/SerialQueue.hpp"
#include "platform/mac/DispatchQueueState.hpp"

namespace mirevo::platform::mac {

class DispatchSerialQueue final : public SerialQueue, QueueSystem {
 public:
  explicit DispatchSerialQueue(const std::string& label);
  // Skips queued work and, off the queue, waits for an item running now.
  ~DispatchSerialQueue() override;
  DispatchSerialQueue(const DispatchSerialQueue&) = delete;
  DispatchSerialQueue& operator=(const DispatchSerialQueue&) = delete;

  void async(std::function<void()> work) override { state_.async(std::move(work)); }
  void sync(std::function<void()> work) override { state_.sync(std::move(work)); }
  std::unique_ptr<RepeatingTimer> makeTimer(double intervalSeconds,
                                            std::function<void()> handler) override;

  // The queue itself, for the stream's sample handler.
  dispatch_queue_t dispatchQueue() const { return queue_; }

 private:
  void submit(std::function<void()> item) override;
  void submitAndWait(std::function<void()> item) override;
  bool isCurrent() const override;

  dispatch_queue_t queue_;
  DispatchQueueState state_{*this};
};

class DispatchQueueFactory final : public QueueFactory {
 public:
  std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
};

}  // namespace mirevo::platform::mac
