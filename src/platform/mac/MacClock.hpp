// The host clock of Core Media (the clock of the sample buffers' presentation
// times) and the system's uptime.
//
// Threads: any thread.
#pragma once

#include "platform/Clock.hpp"

namespace mirevo::platform::mac {

class MacClock final : public Clock {
 public:
  double hostSeconds() const override;
  double uptimeSeconds() const override;
};

}  // namespace mirevo::platform::mac
