#include "platform/sim/SimClock.hpp"

#include <algorithm>
#include <tuple>
#include <vector>

namespace mirevo::platform::sim {

void SimClock::advance(double seconds) {
  struct Due {
    double at;
    ScheduleId id;
    std::function<void()> submit;
  };
  std::vector<Due> due;
  {
    std::lock_guard lock(mutex_);
    const double until = timerTime_ + seconds;
    for (auto& [id, schedule] : schedules_) {
      for (; schedule.nextDue <= until; schedule.nextDue += schedule.intervalSeconds) {
        due.push_back({schedule.nextDue, id, schedule.submitTick});
      }
    }
    timerTime_ = until;
    host_.store(host_.load() + seconds);
    uptime_.store(uptime_.load() + seconds);
  }
  std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) {
    return std::tie(a.at, a.id) < std::tie(b.at, b.id);
  });
  // Outside the lock: submitting takes the queue's lock.
  for (const auto& tick : due) tick.submit();
}

SimClock::ScheduleId SimClock::schedule(double intervalSeconds, std::function<void()> submitTick) {
  std::lock_guard lock(mutex_);
  const ScheduleId id = nextId_++;
  const double interval = intervalSeconds > 0.0 ? intervalSeconds : 1e-9;
  schedules_.emplace(id, Schedule{interval, timerTime_ + interval, std::move(submitTick)});
  return id;
}

void SimClock::unschedule(ScheduleId id) {
  std::lock_guard lock(mutex_);
  schedules_.erase(id);
}

}  // namespace mirevo::platform::sim
