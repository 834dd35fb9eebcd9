// The services the core asks its platform questions of, chosen once at
// start-up: the Linux backend in the shipped agent, the simulated one in tests.
#pragma once

#include "platform/CaptureService.hpp"
#include "platform/Clock.hpp"
#include "platform/DeviceDiscovery.hpp"
#include "platform/SerialQueue.hpp"

namespace mirevo::platform {

struct Platform {
  CaptureService& captureService;
  DeviceDiscovery& deviceDiscovery;
  Clock& clock;
  QueueFactory& queues;
};

}  // namespace mirevo::platform
