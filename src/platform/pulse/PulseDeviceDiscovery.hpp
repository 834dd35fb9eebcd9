// Microphones: the server's capture sources that are not monitors of a sink.
// Each call connects afresh; with no server reachable there are no devices.
//
// Threads: any thread but a libpulse loop thread.
#pragma once

#include "platform/DeviceDiscovery.hpp"

namespace mirevo::platform::pulse {

class PulseDeviceDiscovery final : public DeviceDiscovery {
 public:
  // The server's default source, unless it is a monitor: a server without a
  // microphone makes a monitor its default source.
  std::optional<CaptureDevice> defaultAudioDevice() override;
  std::vector<CaptureDevice> discoverAudioDevices() override;
};

}  // namespace mirevo::platform::pulse
