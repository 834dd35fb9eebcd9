// The rules of the session's serial queue over the system's serial queue (a
// dispatch queue on the Mac, DispatchSerialQueue): work handed over runs only
// while the queue is open, so closing it skips what is still queued; closing
// it off the queue returns once the item running now has finished; sync from
// work running on the queue itself runs in place, since waiting would never
// end; and each item releases what it holds while still on the queue (it may
// hold the last reference to the queue's owner).
//
// Threads: any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace mirevo::platform::mac {

// The calls into the system's serial queue.
class QueueSystem {
 public:
  virtual ~QueueSystem() = default;
  // Runs `item` on the queue, later.
  virtual void submit(std::function<void()> item) = 0;
  // Runs `item` on the queue and returns once it has run.
  virtual void submitAndWait(std::function<void()> item) = 0;
  // Whether the calling code runs on the queue.
  virtual bool isCurrent() const = 0;
};

class DispatchQueueState {
 public:
  explicit DispatchQueueState(QueueSystem& system) : system_(system) {}

  void async(std::function<void()> work);
  void sync(std::function<void()> work);
  // Skips queued work from now on and, off the queue, waits for an item
  // running now.
  void close();

  // False once closed: timers on the queue read it too.
  std::shared_ptr<const std::atomic<bool>> openFlag() const { return open_; }

 private:
  QueueSystem& system_;
  std::shared_ptr<std::atomic<bool>> open_ = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace mirevo::platform::mac
