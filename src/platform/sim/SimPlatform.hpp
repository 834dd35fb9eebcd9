// The whole simulated platform behind one Platform: capture service, device
// discovery, hand-set clock, and either manual queues (drained by the test) or
// real thread queues (for concurrency tests).
//
// Threads: see each service. The platform must outlive every session made on
// it.
#pragma once

#include <memory>

#include "platform/Platform.hpp"
#include "platform/ThreadQueue.hpp"
#include "platform/sim/ManualQueue.hpp"
#include "platform/sim/SimCallLog.hpp"
#include "platform/sim/SimCaptureService.hpp"
#include "platform/sim/SimClock.hpp"
#include "platform/sim/SimDeviceDiscovery.hpp"

namespace mirevo::platform::sim {

enum class SimQueues { manual, threads };

class SimPlatform {
 public:
  explicit SimPlatform(SimQueues queues = SimQueues::manual);
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  Platform& platform() { return platform_; }

  SimCallLog calls;
  SimCaptureService capture{calls};
  SimDeviceDiscovery devices{calls};
  SimClock clock;
  ManualQueueFactory manualQueues{clock};
  ThreadQueueFactory threadQueues;

  // With manual queues: the queue of the most recently made session, and a
  // drain of every live queue on the calling thread.
  std::shared_ptr<ManualQueue> lastQueue() const { return manualQueues.lastQueue(); }
  std::size_t runPending() { return manualQueues.runPending(); }

 private:
  Platform platform_;
};

}  // namespace mirevo::platform::sim
