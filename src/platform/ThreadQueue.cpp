#include "platform/ThreadQueue.hpp"

#include <pthread.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace mirevo::platform {
namespace {

void nameCallingThread(const std::string& name) {
#if defined(__APPLE__)
  ::pthread_setname_np(name.c_str());
#elif defined(__linux__)
  ::prctl(PR_SET_NAME, name.substr(0, 15).c_str(), 0, 0, 0);
#else
  (void)name;
#endif
}

using Clock = std::chrono::steady_clock;

struct TimerState {
  std::function<void()> handler;
  Clock::duration interval;
  Clock::time_point deadline;
  bool armed = false;  // resumed and not cancelled
  bool cancelled = false;
  bool tickQueued = false;  // a busy queue holds at most one pending tick per timer
};

}  // namespace

struct ThreadQueue::Core {
  std::mutex mutex;
  std::condition_variable wake;      // the worker waits on it
  std::condition_variable finished;  // sync callers wait on it
  std::deque<std::function<void()>> work;
  std::vector<std::shared_ptr<TimerState>> timers;
  bool closing = false;
  std::thread::id worker;

  void run();
  void queueDueTicks(Clock::time_point now);
  std::optional<Clock::time_point> nextDeadline() const;
  std::function<void()> tickOf(std::shared_ptr<TimerState> timer);
};

namespace {

class ThreadTimer final : public RepeatingTimer {
 public:
  ThreadTimer(std::shared_ptr<ThreadQueue::Core> core, std::shared_ptr<TimerState> state)
      : core_(std::move(core)), state_(std::move(state)) {}
  ~ThreadTimer() override { cancel(); }

  void resume() override {
    {
      std::lock_guard lock(core_->mutex);
      if (state_->armed || state_->cancelled || core_->closing) return;
      state_->armed = true;
      state_->deadline = Clock::now();
      core_->timers.push_back(state_);
    }
    core_->wake.notify_all();
  }

  void cancel() override {
    std::lock_guard lock(core_->mutex);
    state_->cancelled = true;
    state_->armed = false;
    std::erase(core_->timers, state_);
  }

 private:
  std::shared_ptr<ThreadQueue::Core> core_;
  std::shared_ptr<TimerState> state_;
};

}  // namespace

std::function<void()> ThreadQueue::Core::tickOf(std::shared_ptr<TimerState> timer) {
  return [this, timer = std::move(timer)] {
    {
      std::lock_guard lock(mutex);
      timer->tickQueued = false;
      if (timer->cancelled) return;
    }
    timer->handler();
  };
}

// Called with the mutex held. A timer that fell behind keeps its phase and
// skips the ticks it missed instead of running them back to back.
void ThreadQueue::Core::queueDueTicks(Clock::time_point now) {
  for (const auto& timer : timers) {
    if (timer->deadline > now) continue;
    while (timer->deadline <= now) timer->deadline += timer->interval;
    if (timer->tickQueued) continue;
    timer->tickQueued = true;
    work.push_back(tickOf(timer));
  }
}

std::optional<Clock::time_point> ThreadQueue::Core::nextDeadline() const {
  std::optional<Clock::time_point> next;
  for (const auto& timer : timers) {
    if (!next || timer->deadline < *next) next = timer->deadline;
  }
  return next;
}

void ThreadQueue::Core::run() {
  std::unique_lock lock(mutex);
  while (!closing) {
    queueDueTicks(Clock::now());
    if (!work.empty()) {
      std::function<void()> item = std::move(work.front());
      work.pop_front();
      lock.unlock();
      item();
      // Released before relocking: the item may hold the last reference to
      // whatever owns this queue, whose destructor then runs here.
      item = nullptr;
      lock.lock();
      continue;
    }
    if (const auto next = nextDeadline()) {
      wake.wait_until(lock, *next);
    } else {
      wake.wait(lock);
    }
  }
}

ThreadQueue::ThreadQueue(const std::string& label) : core_(std::make_shared<Core>()) {
  // The worker keeps the core alive, so it can finish safely after a
  // destructor that ran on the worker itself has detached it.
  // A name only helps whoever looks at the process's threads; failing to set
  // it changes nothing. Naming is not POSIX: the worker names itself, through
  // the call each system has for the calling thread (Linux keeps 15 bytes).
  worker_ = std::thread([core = core_, name = label] {
    nameCallingThread(name);
    core->run();
  });
  std::lock_guard lock(core_->mutex);
  core_->worker = worker_.get_id();
}

ThreadQueue::~ThreadQueue() {
  std::deque<std::function<void()>> discarded;
  {
    std::lock_guard lock(core_->mutex);
    core_->closing = true;
    discarded.swap(core_->work);
    for (const auto& timer : core_->timers) timer->cancelled = true;
    core_->timers.clear();
  }
  core_->wake.notify_all();
  core_->finished.notify_all();
  // Outside the lock: discarded work may release objects that own queues too.
  discarded.clear();
  if (worker_.get_id() == std::this_thread::get_id()) {
    worker_.detach();
  } else {
    worker_.join();
  }
}

void ThreadQueue::async(std::function<void()> work) {
  {
    std::lock_guard lock(core_->mutex);
    if (core_->closing) return;
    core_->work.push_back(std::move(work));
  }
  core_->wake.notify_all();
}

void ThreadQueue::sync(std::function<void()> work) {
  const auto core = core_;
  auto done = std::make_shared<bool>(false);
  bool inPlace = false;
  {
    std::lock_guard lock(core->mutex);
    if (core->closing) return;
    // Waiting for itself would never end: work already on the queue runs it
    // in place.
    inPlace = std::this_thread::get_id() == core->worker;
    if (!inPlace) {
      core->work.push_back([core = core.get(), done, work = std::move(work)] {
        work();
        std::lock_guard lock(core->mutex);
        *done = true;
        core->finished.notify_all();
      });
    }
  }
  if (inPlace) {
    work();
    return;
  }
  core->wake.notify_all();
  std::unique_lock lock(core->mutex);
  core->finished.wait(lock, [&] { return *done || core->closing; });
}

std::unique_ptr<RepeatingTimer> ThreadQueue::makeTimer(double intervalSeconds,
                                                       std::function<void()> handler) {
  auto state = std::make_shared<TimerState>();
  state->handler = std::move(handler);
  state->interval =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(intervalSeconds));
  if (state->interval <= Clock::duration::zero()) state->interval = Clock::duration(1);
  return std::make_unique<ThreadTimer>(core_, std::move(state));
}

std::shared_ptr<SerialQueue> ThreadQueueFactory::makeSerialQueue(const std::string& label) {
  return std::make_shared<ThreadQueue>(label);
}

}  // namespace mirevo::platform
