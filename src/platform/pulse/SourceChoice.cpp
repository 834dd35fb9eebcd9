#include "platform/pulse/SourceChoice.hpp"

#include <algorithm>

namespace mirevo::platform::pulse {
namespace {

const SourceInfo* sourceNamed(const ServerDevices& devices, const std::string& name) {
  const auto found = std::find_if(devices.sources.begin(), devices.sources.end(),
                                  [&](const SourceInfo& source) { return source.name == name; });
  return found == devices.sources.end() ? nullptr : &*found;
}

const SourceInfo* sourceWithIndex(const ServerDevices& devices, std::uint32_t index) {
  const auto found = std::find_if(devices.sources.begin(), devices.sources.end(),
                                  [&](const SourceInfo& source) { return source.index == index; });
  return found == devices.sources.end() ? nullptr : &*found;
}

// The default sink; the first sink without one; none without sinks.
const SinkInfo* defaultSink(const ServerDevices& devices) {
  if (devices.sinks.empty()) return nullptr;
  const auto found =
      std::find_if(devices.sinks.begin(), devices.sinks.end(),
                   [&](const SinkInfo& sink) { return sink.name == devices.defaults.sink; });
  return found != devices.sinks.end() ? &*found : &devices.sinks.front();
}

std::optional<std::string> defaultOutputMonitor(const ServerDevices& devices) {
  const SinkInfo* sink = defaultSink(devices);
  if (sink == nullptr || sink->monitorSource.empty()) return std::nullopt;
  return sink->monitorSource;
}

bool sameOwner(const Owner& one, const Owner& other) {
  return (one.module != Owner::kNoModule && one.module == other.module) ||
         (!one.linkGroup.empty() && one.linkGroup == other.linkGroup);
}

// The sink that passes its audio on through `input`, if any.
const SinkInfo* feederOf(const SinkInputInfo& input, const ServerDevices& devices) {
  const auto found =
      std::find_if(devices.sinks.begin(), devices.sinks.end(), [&](const auto& sink) {
        return sink.index != input.sink && sameOwner(sink.owner, input.owner);
      });
  return found == devices.sinks.end() ? nullptr : &*found;
}

// The sink whose sound `input` plays again, when it is a loopback's stream:
// a stream of the same owner records that sink's monitor.
const SinkInfo* loopbackOrigin(const SinkInputInfo& input, const ServerDevices& devices) {
  for (const SourceOutputInfo& output : devices.sourceOutputs) {
    if (!sameOwner(output.owner, input.owner)) continue;
    const SourceInfo* source = sourceWithIndex(devices, output.source);
    if (source == nullptr || !source->isMonitor) continue;
    const auto origin =
        std::find_if(devices.sinks.begin(), devices.sinks.end(), [&](const SinkInfo& sink) {
          return sink.monitorSource == source->name && sink.index != input.sink;
        });
    if (origin != devices.sinks.end()) return &*origin;
  }
  return nullptr;
}

bool passesOn(const SinkInfo& sink, const ServerDevices& devices) {
  return std::any_of(devices.sinkInputs.begin(), devices.sinkInputs.end(),
                     [&](const SinkInputInfo& input) { return feederOf(input, devices) == &sink; });
}

// Whether the sink's monitor feeds a virtual microphone: a source that takes
// its audio through a stream recording that monitor, with the same owner.
bool feedsAMicrophone(const SinkInfo& sink, const ServerDevices& devices) {
  const SourceInfo* monitor = sourceNamed(devices, sink.monitorSource);
  if (monitor == nullptr) return false;
  return std::any_of(
      devices.sourceOutputs.begin(), devices.sourceOutputs.end(), [&](const auto& output) {
        return output.source == monitor->index &&
               std::any_of(devices.sources.begin(), devices.sources.end(), [&](const auto& source) {
                 return source.index != monitor->index && sameOwner(source.owner, output.owner);
               });
      });
}

// The one sink through which the audio that `feeder` passes on is recorded:
// the default output when it reaches it, else the first it reaches.
const SinkInfo* outletOf(const SinkInfo& feeder, const ServerDevices& devices,
                         const SinkInfo* defaultOutput) {
  const SinkInfo* first = nullptr;
  for (const SinkInfo& sink : devices.sinks) {
    const bool reached =
        std::any_of(devices.sinkInputs.begin(), devices.sinkInputs.end(), [&](const auto& input) {
          return input.sink == sink.index && feederOf(input, devices) == &feeder;
        });
    if (!reached) continue;
    if (&sink == defaultOutput) return defaultOutput;
    if (first == nullptr) first = &sink;
  }
  return first;
}

// `visited` guards against a loop of sinks passing audio on to each other.
bool plays(const SinkInfo& sink, const ServerDevices& devices, const SinkInfo* defaultOutput,
           std::vector<const SinkInfo*>& visited) {
  if (std::find(visited.begin(), visited.end(), &sink) != visited.end()) return false;
  visited.push_back(&sink);
  return std::any_of(devices.sinkInputs.begin(), devices.sinkInputs.end(), [&](const auto& input) {
    if (input.sink != sink.index || input.corked) return false;
    // A loopback's sound is recorded where it first played.
    if (loopbackOrigin(input, devices) != nullptr) return false;
    const SinkInfo* feeder = feederOf(input, devices);
    if (feeder == nullptr) return true;  // an application's stream
    return feeder != defaultOutput && outletOf(*feeder, devices, defaultOutput) == &sink &&
           plays(*feeder, devices, defaultOutput, visited);
  });
}

// Whether what `sink` plays is recorded through another sink already: a
// loopback plays it again on a sink that is recorded for its own sake (the
// default output, or one where applications play), whose monitor holds the
// copy.
bool loopedIntoARecordedSink(const SinkInfo& sink, const ServerDevices& devices,
                             const SinkInfo* defaultOutput) {
  return std::any_of(devices.sinkInputs.begin(), devices.sinkInputs.end(), [&](const auto& input) {
    if (input.corked || loopbackOrigin(input, devices) != &sink) return false;
    const auto target =
        std::find_if(devices.sinks.begin(), devices.sinks.end(),
                     [&](const SinkInfo& other) { return other.index == input.sink; });
    if (target == devices.sinks.end()) return false;
    if (&*target == defaultOutput) return true;
    std::vector<const SinkInfo*> visited{&sink};
    return !passesOn(*target, devices) && !feedsAMicrophone(*target, devices) &&
           plays(*target, devices, defaultOutput, visited);
  });
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

std::vector<std::string> mixedMonitors(const ServerDevices& devices) {
  const SinkInfo* defaultOutput = defaultSink(devices);
  std::vector<std::string> monitors;
  for (const SinkInfo& sink : devices.sinks) {
    if (&sink == defaultOutput || sink.monitorSource.empty() || passesOn(sink, devices) ||
        feedsAMicrophone(sink, devices) || loopedIntoARecordedSink(sink, devices, defaultOutput)) {
      continue;
    }
    std::vector<const SinkInfo*> visited;
    if (plays(sink, devices, defaultOutput, visited)) monitors.push_back(sink.monitorSource);
  }
  return monitors;
}

}  // namespace mirevo::platform::pulse
