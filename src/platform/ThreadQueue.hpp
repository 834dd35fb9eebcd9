// A serial queue backed by one worker thread. Timers are part of the worker's
// wait: a due timer puts its tick at the back of the queue, so ticks and other
// work run in one order, one item at a time.
//
// Threads: async, sync and the timers' resume/cancel from any thread (sync
// from work on this queue runs in place). The destructor may run on any thread,
// the worker included (when the last holder of the queue is work on it).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/SerialQueue.hpp"

namespace mirevo::platform {

class ThreadQueue final : public SerialQueue {
 public:
  // `label` becomes the worker thread's name (its first 15 bytes).
  explicit ThreadQueue(const std::string& label);
  // Discards queued work without running it, lets a running item finish and
  // joins the worker; on the worker itself it only detaches.
  ~ThreadQueue() override;
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  void async(std::function<void()> work) override;
  // Returns once `work` has run (in place when called on the worker), or at
  // once without running it when the queue is torn down meanwhile.
  void sync(std::function<void()> work) override;
  std::unique_ptr<RepeatingTimer> makeTimer(double intervalSeconds,
                                            std::function<void()> handler) override;

  struct Core;  // shared by the worker, the queue and its timers

 private:
  std::shared_ptr<Core> core_;
  std::thread worker_;
};

class ThreadQueueFactory final : public QueueFactory {
 public:
  std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
};

}  // namespace mirevo::platform
