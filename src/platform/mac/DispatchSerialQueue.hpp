// The session's serial queue on Dispatch: a serial dispatch queue whose label
// is the one asked for, so that ScreenCaptureKit can deliver sample buffers on
// it directly. Work handed over with async or sync runs only while the queue
// object lives: what is still queued at its destruction is skipped.
//
// Objective-C++ only. Threads: any thread; sync from work running on this
// queue runs that work in place at once, since waiting would never end.
#pragma once

#include <dispatch/dispatch.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/SerialQueue.hpp"

namespace mirevo::platform::mac {

class DispatchSerialQueue final : public SerialQueue {
 public:
  explicit DispatchSerialQueue(const std::string& label);
  // Skips queued work and, off the queue, waits for an item running now.
  ~DispatchSerialQueue() override;
  DispatchSerialQueue(const DispatchSerialQueue&) = delete;
  DispatchSerialQueue& operator=(const DispatchSerialQueue&) = delete;

  void async(std::function<void()> work) override;
  void sync(std::function<void()> work) override;
  std::unique_ptr<RepeatingTimer> makeTimer(double intervalSeconds,
                                            std::function<void()> handler) override;

  // The queue itself, for the stream's sample handler.
  dispatch_queue_t dispatchQueue() const { return queue_; }
  // Whether the calling code runs on this queue.
  bool isCurrent() const;

 private:
  std::shared_ptr<std::atomic<bool>> open_;
  dispatch_queue_t queue_;
};

class DispatchQueueFactory final : public QueueFactory {
 public:
  std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
};

}  // namespace mirevo::platform::mac
