// Microphones as AVFoundation lists them: built-in and external audio
// capture devices, asked afresh each time.
//
// Threads: any thread.
#pragma once

#include "platform/DeviceDiscovery.hpp"

namespace mirevo::platform::mac {

class MacDeviceDiscovery final : public DeviceDiscovery {
 public:
  std::optional<CaptureDevice> defaultAudioDevice() override;
  std::vector<CaptureDevice> discoverAudioDevices() override;
};

}  // namespace mirevo::platform::mac
