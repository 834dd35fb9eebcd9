#include <time.h>

#include "platform/Clock.hpp"

namespace mirevo::platform {
namespace {

double secondsOf(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

double SystemClock::hostSeconds() const {
  return secondsOf(CLOCK_MONOTONIC);
}

// CLOCK_BOOTTIME keeps counting while the machine sleeps, like system uptime.
double SystemClock::uptimeSeconds() const {
  return secondsOf(CLOCK_BOOTTIME);
}

}  // namespace mirevo::platform
