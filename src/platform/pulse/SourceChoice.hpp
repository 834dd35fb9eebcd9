// Which server source an output of a stream records, by its rule: a source
// named when the recording started, the monitor of the default sink (what the
// computer plays), or the default microphone. The two defaults are followed:
// whenever the server's devices change, the rule is asked again.
//
// The system's audio is more than the default sink: every other sink that
// plays joins its mix (mixedMonitors), unless its sound reaches another sink.
//
// Threads: pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// The monitors of the sinks whose audio joins the system's mix besides the
// default output's (chooseSource's defaultOutput), in the server's order:
// every other sink that plays, unless it passes its audio on.
// - A sink passes its audio on when a sink input on another sink has the
//   same owner: the module that made both (a remap, virtual or filter sink,
//   a combine sink, echo-cancel, on either server), or PipeWire's link group
//   (its own filters, whatever loaded them). Its sound is recorded once,
//   through the sink it reaches.
// - A sink whose monitor feeds a virtual microphone (a source remapped from
//   it: a stream of the same owner records the monitor) is a line into that
//   microphone, not an output: its audio is the microphone's.
// - A loopback (a stream that records one sink's monitor and a stream that
//   plays it into another sink, of one owner) plays a sound again that is
//   recorded where it first played: its stream makes no sink play. When the
//   sink it plays into is recorded all the same (the default output, or
//   applications play there too), that sink's monitor holds the copy, and the
//   sink where it first played is left out instead, unless it is the default
//   output: that is always recorded, and the copy is then heard twice.
// - A sink plays while an application's stream plays into it (one not
//   corked), or a sink that passes its audio on to it plays and has it
//   recorded there: a sink that passes its audio on to several (a combine
//   sink) has it recorded through the default output when it reaches it,
//   else through the first it reaches; the default output's own passing on
//   makes nothing play, its monitor records that already.
std::vector<std::string> mixedMonitors(const ServerDevices& devices);

}  // namespace mirevo::platform::pulse
