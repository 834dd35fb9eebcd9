// A serial queue and its repeating timer: the session's one place of work.
// Everything submitted runs one item at a time, in submission order.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace mirevo::platform {

class RepeatingTimer {
 public:
  // Destroying a timer cancels it.
  virtual ~RepeatingTimer() = default;
  // Starts the timer: its handler runs on the queue at once, then every
  // interval. Called once.
  virtual void resume() = 0;
  // After cancel returns no tick starts any more (a tick already running on
  // the queue finishes). Idempotent; any thread.
  virtual void cancel() = 0;
};

class SerialQueue {
 public:
  // Work still queued when the queue is destroyed is discarded, not run.
  virtual ~SerialQueue() = default;
  // Any thread. Returns at once.
  virtual void async(std::function<void()> work) = 0;
  // Runs `work` after everything queued before it and returns when it has run.
  // Called from work running on this queue, it runs `work` in place, at once:
  // waiting for the queue would mean waiting for itself.
  virtual void sync(std::function<void()> work) = 0;
  // A timer whose handler runs on this queue; not started until resume().
  virtual std::unique_ptr<RepeatingTimer> makeTimer(double intervalSeconds,
                                                    std::function<void()> handler) = 0;
};

class QueueFactory {
 public:
  virtual ~QueueFactory() = default;
  // `label` names the queue where the system shows it (the worker thread's
  // name); it does not change what the queue does.
  virtual std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) = 0;
};

}  // namespace mirevo::platform
