// Which server source an output of a stream records, by its rule: a source
// named when the recording started, the monitor of the default sink (what the
// computer plays), or the default microphone. The two defaults are followed:
// whenever the server's devices change, the rule is asked again.
//
// Threads: pure; any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/pulse/PulseQueries.hpp"

namespace mirevo::platform::pulse {

enum class SourceRule {
  named,              // that source and no other
  defaultOutput,      // the default sink's monitor; the first sink's without a default
  defaultMicrophone,  // the default source, unless it is a monitor
};

// The source to record now, or none when the rule finds nothing to record:
// the named source is gone, there is no sink, or no microphone is the
// default. Never a monitor as microphone.
std::optional<std::string> chooseSource(SourceRule rule, const std::string& named,
                                        const ServerDevices& devices);

}  // namespace mirevo::platform::pulse
