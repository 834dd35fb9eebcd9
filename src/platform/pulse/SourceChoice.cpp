#include "platform/pulse/SourceChoice.hpp"

#include <algorithm>

namespace mirevo::platform::pulse {
namespace {

const SourceInfo* sourceNamed(const ServerDevices& devices, const std::string& name) {
  const auto found = std::find_if(devices.sources.begin(), devices.sources.end(),
                                  [&](const SourceInfo& source) { return source.name == name; });
  return found == devices.sources.end() ? nullptr : &*found;
}

std::optional<std::string> defaultOutputMonitor(const ServerDevices& devices) {
  if (devices.sinks.empty()) return std::nullopt;
  const auto found =
      std::find_if(devices.sinks.begin(), devices.sinks.end(),
                   [&](const SinkInfo& sink) { return sink.name == devices.defaults.sink; });
  const SinkInfo& sink = found != devices.sinks.end() ? *found : devices.sinks.front();
  if (sink.monitorSource.empty()) return std::nullopt;
  return sink.monitorSource;
}

}  // namespace

std::optional<std::string> chooseSource(SourceRule rule, const std::string& named,
                                        const ServerDevices& devices) {
  switch (rule) {
    case SourceRule::named:
      if (sourceNamed(devices, named) == nullptr) return std::nullopt;
      return named;
    case SourceRule::defaultOutput:
      return defaultOutputMonitor(devices);
    case SourceRule::defaultMicrophone: {
      // A server without a microphone makes a monitor its default source.
      const SourceInfo* source = sourceNamed(devices, devices.defaults.source);
      if (source == nullptr || source->isMonitor) return std::nullopt;
      return source->name;
    }
  }
  return std::nullopt;
}

}  // namespace mirevo::platform::pulse
