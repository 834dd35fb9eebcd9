#include "platform/pulse/PulsePlatform.hpp"

#include "platform/ThreadQueue.hpp"
#include "platform/pulse/PulseCaptureService.hpp"
#include "platform/pulse/PulseDeviceDiscovery.hpp"

namespace mirevo::platform::pulse {

struct PulsePlatform::Services {
  SystemClock clock;
  PulseCaptureService captureService{clock};
  PulseDeviceDiscovery deviceDiscovery;
  ThreadQueueFactory queues;
  Platform platform{captureService, deviceDiscovery, clock, queues};
};

PulsePlatform::PulsePlatform() : services_(std::make_unique<Services>()) {}

PulsePlatform::~PulsePlatform() = default;

Platform& PulsePlatform::platform() {
  return services_->platform;
}

}  // namespace mirevo::platform::pulse
