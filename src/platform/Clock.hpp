// The two clocks the core reads. Any thread may call them.
#pragma once

namespace mirevo::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds on the host clock: the clock of sample presentation times and of
  // a session's origin.
  virtual double hostSeconds() const = 0;
  // Seconds of system uptime: the clock of an accumulator's `lastPacket`.
  virtual double uptimeSeconds() const = 0;
};

// The machine's clocks: CLOCK_MONOTONIC as the host clock (the clock the Linux
// backend stamps its buffers on) and CLOCK_BOOTTIME as uptime.
class SystemClock final : public Clock {
 public:
  double hostSeconds() const override;
  double uptimeSeconds() const override;
};

}  // namespace mirevo::platform
