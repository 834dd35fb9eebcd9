// Hand-set clocks for tests. The host clock and uptime are set or moved by the
// test; timers of the manual queues follow the clock's own timer time, which
// only advance() moves, so setting a clock reading never fires a timer.
//
// Threads: readings from any thread; setting and advancing from the test.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/Clock.hpp"

namespace mirevo::platform::sim {

class SimClock final : public Clock {
 public:
  double hostSeconds() const override { return host_.load(); }
  double uptimeSeconds() const override { return uptime_.load(); }

  void setHostSeconds(double seconds) { host_.store(seconds); }
  void setUptimeSeconds(double seconds) { uptime_.store(seconds); }

  // Moves the host clock, uptime and timer time forward by `seconds`, then
  // submits every timer tick that fell due meanwhile, earliest first (ties in
  // the order the timers were scheduled). The ticks run when their queue is
  // drained.
  void advance(double seconds);

  // For the manual queue's timers: `submitTick` is called for each tick that
  // falls due, the first `intervalSeconds` after now, then every interval.
  using ScheduleId = std::uint64_t;
  ScheduleId schedule(double intervalSeconds, std::function<void()> submitTick);
  void unschedule(ScheduleId id);

 private:
  struct Schedule {
    double intervalSeconds;
    double nextDue;
    std::function<void()> submitTick;
  };

  std::atomic<double> host_{0.0};
  std::atomic<double> uptime_{0.0};
  std::mutex mutex_;
  double timerTime_ = 0.0;
  ScheduleId nextId_ = 1;
  std::map<ScheduleId, Schedule> schedules_;
};

}  // namespace mirevo::platform::sim
