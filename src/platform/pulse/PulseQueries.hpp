// What the server says about its devices. Each query blocks until the server
// has answered and throws the platform's Error as PulseConnection's waits do.
//
// Threads: off the loop thread, with the connection's lock held.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/pulse/PulseConnection.hpp"

namespace mirevo::platform::pulse {

struct ServerDefaults {
  std::string sink;
  std::string source;
};

struct SourceInfo {
  std::string name;
  std::string description;
  bool isMonitor = false;  // records what a sink plays, not a microphone
};

struct SinkInfo {
  std::string name;
  std::string description;
  std::string monitorSource;
};

// Everything above at once.
struct ServerDevices {
  ServerDefaults defaults;
  std::vector<SinkInfo> sinks;
  std::vector<SourceInfo> sources;
};

ServerDefaults serverDefaults(PulseConnection& connection);
// In the server's order.
std::vector<SourceInfo> listSources(PulseConnection& connection);
std::vector<SinkInfo> listSinks(PulseConnection& connection);
// None when the server has no source of that name.
std::optional<SourceInfo> findSource(PulseConnection& connection, const std::string& name);
ServerDevices serverDevices(PulseConnection& connection);

}  // namespace mirevo::platform::pulse
