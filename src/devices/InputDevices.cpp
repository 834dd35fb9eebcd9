#include "devices/InputDevices.hpp"

#include <optional>
#include <string>

namespace mirevo::devices {

nlohmann::json listInputDevices(platform::DeviceDiscovery& discovery) {
  // The default is asked for before the discovery runs, as the platform's
  // picker does; a device plugged in between the two is listed unmarked.
  std::optional<std::string> defaultId;
  if (const auto device = discovery.defaultAudioDevice()) defaultId = device->uniqueID;

  nlohmann::json entries = nlohmann::json::array();
  for (const auto& device : discovery.discoverAudioDevices()) {
    entries.push_back({
        {"id", device.uniqueID},
        {"label", device.localizedName},
        {"kind", "audioinput"},
        {"isDefault", defaultId.has_value() && *defaultId == device.uniqueID},
    });
  }
  return entries;
}

}  // namespace mirevo::devices
