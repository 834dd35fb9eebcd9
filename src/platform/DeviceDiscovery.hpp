// Audio input devices as the platform lists them. Any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mirevo::platform {

struct CaptureDevice {
  std::string uniqueID;       // stable from call to call; what `start` names
  std::string localizedName;  // for people
};

class DeviceDiscovery {
 public:
  virtual ~DeviceDiscovery() = default;
  // The system's default audio input device, or none.
  virtual std::optional<CaptureDevice> defaultAudioDevice() = 0;
  // Every audio input device, in the platform's order. Asked afresh each time.
  virtual std::vector<CaptureDevice> discoverAudioDevices() = 0;
};

}  // namespace mirevo::platform
