#include "platform/mac/MacPlatform.hpp"

#include "platform/mac/DispatchSerialQueue.hpp"
#include "platform/mac/MacCaptureService.hpp"
#include "platform/mac/MacClock.hpp"
#include "platform/mac/MacDeviceDiscovery.hpp"

namespace mirevo::platform::mac {

struct MacPlatform::Services {
  MacClock clock;
  MacCaptureService captureService;
  MacDeviceDiscovery deviceDiscovery;
  DispatchQueueFactory queues;
  Platform platform{captureService, deviceDiscovery, clock, queues};
};

MacPlatform::MacPlatform() : services_(std::make_unique<Services>()) {}

MacPlatform::~MacPlatform() = default;

Platform& MacPlatform::platform() {
  return services_->platform;
}

}  // namespace mirevo::platform::mac
