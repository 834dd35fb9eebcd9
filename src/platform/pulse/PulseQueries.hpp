// What the server says about its devices. Each query blocks until the server
// has answered and throws the platform's Error as PulseConnection's waits do.
//
// Threads: off the loop thread, with the connection's lock held.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/pulse/PulseConnection.hpp"

namespace mirevo::platform::pulse {

struct ServerDefaults {
  std::string sink;
  std::string source;
};

// Whom a sink or a stream belongs to, as far as the system's mix asks: the
// module that made it (none for a client's own stream), and PipeWire's link
// group, which the two sides of one of its filters share.
struct Owner {
  static constexpr std::uint32_t kNoModule = 0xffffffffu;
  std::uint32_t module = kNoModule;
  std::string linkGroup;  // property node.link-group; empty when none
};

struct SinkInfo {
  std::string name;
  std::string description;
  std::string monitorSource;
  std::uint32_t index = 0;
  Owner owner;
};

struct SourceInfo {
  std::string name;
  std::string description;
  bool isMonitor = false;  // records what a sink plays, not a microphone
  std::uint32_t index = 0;
  Owner owner;
};

// A stream that records a source: an application's, or the one through which
// a virtual source (a microphone remapped from a sink's monitor) takes its
// audio.
struct SourceOutputInfo {
  std::uint32_t source = 0;  // the index of the source it records
  Owner owner;
};

// A stream that plays into a sink: an application's, or the one through
// which a virtual sink passes its audio on to another sink.
struct SinkInputInfo {
  std::uint32_t sink = 0;  // the index of the sink it plays into
  bool corked = false;     // paused: it plays nothing
  Owner owner;
};

// Everything above at once.
struct ServerDevices {
  ServerDefaults defaults;
  std::vector<SinkInfo> sinks;
  std::vector<SourceInfo> sources;
  std::vector<SinkInputInfo> sinkInputs;
  std::vector<SourceOutputInfo> sourceOutputs;
};

ServerDefaults serverDefaults(PulseConnection& connection);
// In the server's order.
std::vector<SourceInfo> listSources(PulseConnection& connection);
std::vector<SinkInfo> listSinks(PulseConnection& connection);
std::vector<SinkInputInfo> listSinkInputs(PulseConnection& connection);
std::vector<SourceOutputInfo> listSourceOutputs(PulseConnection& connection);
// None when the server has no source of that name.
std::optional<SourceInfo> findSource(PulseConnection& connection, const std::string& name);
ServerDevices serverDevices(PulseConnection& connection);

}  // namespace mirevo::platform::pulse
