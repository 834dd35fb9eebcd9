#include "platform/sim/ManualQueue.hpp"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <optional>
#include <thread>
#include <utility>

namespace mirevo::platform::sim {

struct ManualQueue::Pending {
  mutable std::mutex mutex;
  mutable std::condition_variable queued;
  std::deque<std::function<void()>> work;
  bool closed = false;
  std::mutex drainMutex;  // one drainer at a time
  std::atomic<std::thread::id> drainer{};

  void push(std::function<void()> item) {
    {
      std::lock_guard lock(mutex);
      if (closed) return;
      work.push_back(std::move(item));
    }
    queued.notify_all();
  }

  std::optional<std::function<void()>> pop() {
    std::lock_guard lock(mutex);
    if (work.empty()) return std::nullopt;
    auto item = std::move(work.front());
    work.pop_front();
    return item;
  }

  bool drainingHere() const { return drainer.load() == std::this_thread::get_id(); }

  // Runs work until none is left. Touches nothing but this shared state, since
  // an item may release the queue that owns it.
  std::size_t drain() {
    if (drainingHere()) return 0;
    std::lock_guard lock(drainMutex);
    drainer.store(std::this_thread::get_id());
    std::size_t ran = 0;
    while (auto item = pop()) {
      (*item)();
      ++ran;
    }
    drainer.store(std::thread::id{});
    return ran;
  }
};

namespace {

class ManualTimer final : public RepeatingTimer {
 public:
  ManualTimer(std::shared_ptr<ManualQueue::Pending> pending, SimClock& clock,
              double intervalSeconds, std::function<void()> handler)
      : pending_(std::move(pending)),
        clock_(clock),
        intervalSeconds_(intervalSeconds),
        handler_(std::make_shared<std::function<void()>>(std::move(handler))) {}
  ~ManualTimer() override { cancel(); }

  void resume() override {
    std::lock_guard lock(mutex_);
    if (resumed_ || cancelled_->load()) return;
    resumed_ = true;
    pending_->push(tick());
    schedule_ = clock_.schedule(intervalSeconds_,
                                [pending = pending_, tick = tick()] { pending->push(tick); });
  }

  void cancel() override {
    std::lock_guard lock(mutex_);
    cancelled_->store(true);
    if (schedule_) clock_.unschedule(*schedule_);
    schedule_.reset();
  }

 private:
  // A tick checks at run time, so one already queued when the timer is
  // cancelled does not run.
  std::function<void()> tick() const {
    return [cancelled = cancelled_, handler = handler_] {
      if (!cancelled->load()) (*handler)();
    };
  }

  std::shared_ptr<ManualQueue::Pending> pending_;
  SimClock& clock_;
  const double intervalSeconds_;
  std::shared_ptr<std::function<void()>> handler_;
  std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
  std::mutex mutex_;
  bool resumed_ = false;
  std::optional<SimClock::ScheduleId> schedule_;
};

}  // namespace

ManualQueue::ManualQueue(SimClock& clock) : clock_(clock), pending_(std::make_shared<Pending>()) {}

ManualQueue::~ManualQueue() {
  std::deque<std::function<void()>> discarded;
  {
    std::lock_guard lock(pending_->mutex);
    pending_->closed = true;
    discarded.swap(pending_->work);
  }
  pending_->queued.notify_all();
  // Released outside the lock: discarded work may own other queues.
  discarded.clear();
}

void ManualQueue::async(std::function<void()> work) {
  pending_->push(std::move(work));
}

void ManualQueue::sync(std::function<void()> work) {
  const auto pending = pending_;
  if (pending->drainingHere()) {
    work();
    return;
  }
  std::lock_guard lock(pending->drainMutex);
  pending->drainer.store(std::this_thread::get_id());
  while (auto item = pending->pop()) (*item)();
  work();
  pending->drainer.store(std::thread::id{});
}

std::unique_ptr<RepeatingTimer> ManualQueue::makeTimer(double intervalSeconds,
                                                       std::function<void()> handler) {
  return std::make_unique<ManualTimer>(pending_, clock_, intervalSeconds, std::move(handler));
}

std::size_t ManualQueue::runPending() {
  const auto pending = pending_;
  return pending->drain();
}

std::size_t ManualQueue::pendingCount() const {
  std::lock_guard lock(pending_->mutex);
  return pending_->work.size();
}

void ManualQueue::waitForPending() const {
  std::unique_lock lock(pending_->mutex);
  pending_->queued.wait(lock, [&] { return !pending_->work.empty() || pending_->closed; });
}

std::shared_ptr<SerialQueue> ManualQueueFactory::makeSerialQueue(const std::string& /*label*/) {
  auto queue = std::make_shared<ManualQueue>(clock_);
  std::lock_guard lock(mutex_);
  made_.push_back(queue);
  return queue;
}

std::shared_ptr<ManualQueue> ManualQueueFactory::lastQueue() const {
  std::lock_guard lock(mutex_);
  return made_.empty() ? nullptr : made_.back().lock();
}

std::size_t ManualQueueFactory::runPending() {
  std::vector<std::shared_ptr<ManualQueue>> live;
  {
    std::lock_guard lock(mutex_);
    for (const auto& weak : made_) {
      if (auto queue = weak.lock()) live.push_back(std::move(queue));
    }
  }
  std::size_t ran = 0;
  for (const auto& queue : live) ran += queue->runPending();
  return ran;
}

}  // namespace mirevo::platform::sim
