#include "platform/pulse/PulseDeviceDiscovery.hpp"

#include "platform/Error.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/PulseQueries.hpp"

namespace mirevo::platform::pulse {
namespace {

constexpr const char* kClientName = "Mirevo Capture devices";

}  // namespace

std::optional<CaptureDevice> PulseDeviceDiscovery::defaultAudioDevice() {
  try {
    PulseConnection connection(kClientName);
    PulseConnection::Lock lock(connection);
    const std::string name = serverDefaults(connection).source;
    if (name.empty()) return std::nullopt;
    const auto source = findSource(connection, name);
    if (!source || source->isMonitor) return std::nullopt;
    return CaptureDevice{source->name, source->description};
  } catch (const Error&) {
    return std::nullopt;
  }
}

std::vector<CaptureDevice> PulseDeviceDiscovery::discoverAudioDevices() {
  std::vector<CaptureDevice> devices;
  try {
    PulseConnection connection(kClientName);
    PulseConnection::Lock lock(connection);
    for (const auto& source : listSources(connection)) {
      if (!source.isMonitor) devices.push_back({source.name, source.description});
    }
  } catch (const Error&) {
    devices.clear();
  }
  return devices;
}

}  // namespace mirevo::platform::pulse
