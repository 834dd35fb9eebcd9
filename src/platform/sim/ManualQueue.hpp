// A serial queue that the test drives: async work waits until the test drains
// the queue on its own thread; sync drains and then runs its work on the
// calling thread; timer ticks are submitted when the SimClock is advanced.
// Tests that use it never sleep.
//
// Threads: async and the timers' cancel from any thread (a platform thread
// may hand work over); runPending and sync from one thread at a time (a second
// drainer waits for the first).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialQueue.hpp"
#include "platform/sim/SimClock.hpp"

namespace mirevo::platform::sim {

class ManualQueue final : public SerialQueue {
 public:
  explicit ManualQueue(SimClock& clock);
  // Work still queued is discarded, not run.
  ~ManualQueue() override;
  ManualQueue(const ManualQueue&) = delete;
  ManualQueue& operator=(const ManualQueue&) = delete;

  void async(std::function<void()> work) override;
  // Drains everything queued before it, then runs `work`, on the calling
  // thread. From work that this queue is running, it runs `work` in place.
  void sync(std::function<void()> work) override;
  // Ticks at once on resume(), then each time the clock's timer time passes
  // another interval.
  std::unique_ptr<RepeatingTimer> makeTimer(double intervalSeconds,
                                            std::function<void()> handler) override;

  // Runs queued work in order on the calling thread, including work queued
  // meanwhile, until none is left. Returns how many items ran.
  std::size_t runPending();
  std::size_t pendingCount() const;
  // Blocks until some work is queued: for a test that drives a session on
  // another thread and needs to know that it has handed work over.
  void waitForPending() const;

  struct Pending;  // the work list, shared with the timers

 private:
  SimClock& clock_;
  // Shared, because work being drained may release the queue itself.
  std::shared_ptr<Pending> pending_;
};

// Makes manual queues and remembers them, so a test can reach the queue a
// session made for itself.
class ManualQueueFactory final : public QueueFactory {
 public:
  explicit ManualQueueFactory(SimClock& clock) : clock_(clock) {}
  std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;

  // The most recently made queue while it lives, else null.
  std::shared_ptr<ManualQueue> lastQueue() const;
  // Drains every queue that still lives, in the order they were made.
  std::size_t runPending();

 private:
  SimClock& clock_;
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<ManualQueue>> made_;
};

}  // namespace mirevo::platform::sim
