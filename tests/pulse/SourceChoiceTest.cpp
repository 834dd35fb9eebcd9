// Which source each rule records, on a table of servers' devices.
#include "platform/pulse/SourceChoice.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace mirevo::platform::pulse {
namespace {

// Two sinks (speakers, the default, and headphones), their monitors and two
// microphones, the first the default.
ServerDevices desktop() {
  ServerDevices devices;
  devices.defaults = {"speakers", "mic"};
  devices.sinks = {{"speakers", "Speakers", "speakers.monitor", 0, {1, ""}},
                   {"headphones", "Headphones", "headphones.monitor", 1, {2, ""}}};
  devices.sources = {{"speakers.monitor", "Monitor of Speakers", true, 0, {1, ""}},
                     {"headphones.monitor", "Monitor of Headphones", true, 1, {2, ""}},
                     {"mic", "Microphone", false, 2, {3, ""}},
                     {"usb", "USB Headset", false, 3, {4, ""}}};
  return devices;
}

struct ChoiceCase {
  const char* name;
  SourceRule rule;
  const char* named;
  void (*change)(ServerDevices&);
  std::optional<std::string> chosen;
};

void PrintTo(const ChoiceCase& choice, std::ostream* out) {
  *out << choice.name;
}

class SourceChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(SourceChoice, FollowsTheRule) {
  const auto& choice = GetParam();
  ServerDevices devices = desktop();
  choice.change(devices);
  EXPECT_EQ(chooseSource(choice.rule, choice.named, devices), choice.chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SourceChoice,
    ::testing::Values(
        ChoiceCase{"defaultOutput", SourceRule::defaultOutput, "", [](ServerDevices&) {},
                   "speakers.monitor"},
        ChoiceCase{"switchedOutput", SourceRule::defaultOutput, "",
                   [](ServerDevices& d) { d.defaults.sink = "headphones"; }, "headphones.monitor"},
        ChoiceCase{"defaultOutputNotListedTakesTheFirstSink", SourceRule::defaultOutput, "",
                   [](ServerDevices& d) { d.defaults.sink = "gone"; }, "speakers.monitor"},
        ChoiceCase{"noSinkAtAll", SourceRule::defaultOutput, "",
                   [](ServerDevices& d) { d.sinks.clear(); }, std::nullopt},
        ChoiceCase{"defaultMicrophone", SourceRule::defaultMicrophone, "", [](ServerDevices&) {},
                   "mic"},
        ChoiceCase{"switchedMicrophone", SourceRule::defaultMicrophone, "",
                   [](ServerDevices& d) { d.defaults.source = "usb"; }, "usb"},
        ChoiceCase{"aMonitorAsDefaultIsNoMicrophone", SourceRule::defaultMicrophone, "",
                   [](ServerDevices& d) { d.defaults.source = "speakers.monitor"; }, std::nullopt},
        ChoiceCase{"noMicrophoneLeft", SourceRule::defaultMicrophone, "",
                   [](ServerDevices& d) {
                     std::erase_if(d.sources, [](const auto& s) { return !s.isMonitor; });
                   },
                   std::nullopt},
        ChoiceCase{"namedIsKeptWhateverTheDefault", SourceRule::named, "usb",
                   [](ServerDevices& d) { d.defaults.source = "mic"; }, "usb"},
        ChoiceCase{"namedGone", SourceRule::named, "usb",
                   [](ServerDevices& d) { d.sources.pop_back(); }, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Which monitors join the system's mix, on tables of what the servers list.
// Owners as the queries report them: a client's stream has no module (the
// module of PulseAudio's protocol, which it names for every client's stream,
// is left out); a module's sink and the stream through which it passes its
// audio on have the same module; PipeWire gives the two sides of its own
// filters one link group.
constexpr std::uint32_t kNone = Owner::kNoModule;

SinkInputInfo application(std::uint32_t sink) {
  return {sink, false, {kNone, ""}};
}

// A loopback of `owner` from the monitor (source index) `monitor` into `sink`.
void addLoopback(ServerDevices& devices, std::uint32_t monitor, std::uint32_t sink, Owner owner) {
  devices.sourceOutputs.push_back({monitor, owner});
  devices.sinkInputs.push_back({sink, false, owner});
}

// A third output, HDMI (index 5), that is not the default.
void addHdmi(ServerDevices& devices) {
  devices.sinks.push_back({"hdmi", "HDMI", "hdmi.monitor", 5, {5, ""}});
  devices.sources.push_back({"hdmi.monitor", "Monitor of HDMI", true, 105, {5, ""}});
}

// A virtual sink made by `module` (or of link group `group`), passing its
// audio on into each of `masters`.
void addVirtualSink(ServerDevices& devices, const std::string& name, std::uint32_t index,
                    Owner owner, std::vector<std::uint32_t> masters) {
  devices.sinks.push_back({name, name, name + ".monitor", index, owner});
  devices.sources.push_back({name + ".monitor", "Monitor of " + name, true, 100 + index, owner});
  for (const std::uint32_t master : masters) devices.sinkInputs.push_back({master, false, owner});
}

struct MixCase {
  const char* name;
  void (*change)(ServerDevices&);
  std::vector<std::string> mixed;
};

void PrintTo(const MixCase& mix, std::ostream* out) {
  *out << mix.name;
}

class MixedMonitors : public ::testing::TestWithParam<MixCase> {};

TEST_P(MixedMonitors, AreThoseThatPlayAndPassNothingOn) {
  const auto& mix = GetParam();
  ServerDevices devices = desktop();
  mix.change(devices);
  EXPECT_EQ(mixedMonitors(devices), mix.mixed);
}

using Monitors = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Sinks, MixedMonitors,
    ::testing::Values(
        MixCase{"nothingPlays", [](ServerDevices&) {}, Monitors{}},
        MixCase{"onlyTheDefaultPlays", [](ServerDevices& d) { d.sinkInputs = {application(0)}; },
                Monitors{}},
        MixCase{"anApplicationPlaysOnTheHeadphones",
                [](ServerDevices& d) {
                  d.sinkInputs = {application(0), application(1)};
                },
                Monitors{"headphones.monitor"}},
        MixCase{"aPipeWireClientHasNoModule",
                [](ServerDevices& d) {
                  d.sinkInputs = {{1, false, {kNone, ""}}};
                },
                Monitors{"headphones.monitor"}},
        MixCase{"aPausedStreamPlaysNothing",
                [](ServerDevices& d) {
                  d.sinkInputs = {{1, true, {kNone, ""}}};
                },
                Monitors{}},
        MixCase{"theDefaultSwitchedToTheHeadphones",
                [](ServerDevices& d) {
                  d.defaults.sink = "headphones";
                  d.sinkInputs = {application(0), application(1)};
                },
                Monitors{"speakers.monitor"}},
        MixCase{"aRemapOfTheDefaultIsRecordedThroughIt",
                [](ServerDevices& d) {
                  addVirtualSink(d, "remap", 2, {7, ""}, {0});
                  d.sinkInputs.push_back(application(2));
                },
                Monitors{}},
        MixCase{"aRemapOfTheHeadphonesMakesThemPlay",
                [](ServerDevices& d) {
                  addVirtualSink(d, "remap", 2, {7, ""}, {1});
                  d.sinkInputs.push_back(application(2));
                },
                Monitors{"headphones.monitor"}},
        MixCase{"anIdleRemapMakesNothingPlay",
                [](ServerDevices& d) {
                  addVirtualSink(d, "remap", 2, {7, ""}, {1});
                },
                Monitors{}},
        MixCase{"aPipeWireFilterIsKnownByItsLinkGroup",
                [](ServerDevices& d) {
                  addVirtualSink(d, "filter", 2, {kNone, "loopback-1-2"}, {1});
                  d.sinkInputs.push_back(application(2));
                },
                Monitors{"headphones.monitor"}},
        MixCase{"aChainOfFiltersReachesTheHeadphones",
                [](ServerDevices& d) {
                  addVirtualSink(d, "equaliser", 2, {7, ""}, {1});
                  addVirtualSink(d, "echo_cancel", 3, {8, ""}, {2});
                  d.sinkInputs.push_back(application(3));
                },
                Monitors{"headphones.monitor"}},
        MixCase{"aCombineSinkIsRecordedThroughTheDefaultOnly",
                [](ServerDevices& d) {
                  addVirtualSink(d, "combined", 2, {9, ""}, {1, 0});
                  d.sinkInputs.push_back(application(2));
                },
                Monitors{}},
        MixCase{"aCombineSinkWithoutTheDefaultIsRecordedOnce",
                [](ServerDevices& d) {
                  addHdmi(d);
                  addVirtualSink(d, "combined", 2, {9, ""}, {5, 1});
                  d.sinkInputs.push_back(application(2));
                },
                Monitors{"headphones.monitor"}},
        MixCase{"theDefaultsOwnRemapMakesItsMasterPlayNot",
                [](ServerDevices& d) {
                  addVirtualSink(d, "remap", 2, {7, ""}, {1});
                  d.defaults.sink = "remap";
                  d.sinkInputs.push_back(application(2));
                },
                Monitors{}},
        MixCase{"aLineIntoAVirtualMicrophoneIsNoOutput",
                [](ServerDevices& d) {
                  d.sources.push_back({"virtual_mic", "Virtual", false, 10, {11, ""}});
                  d.sourceOutputs.push_back({1, {11, ""}});
                  d.sinkInputs = {application(1)};
                },
                Monitors{}},
        MixCase{"aPipeWireLineIntoAMicrophoneIsKnownByItsLinkGroup",
                [](ServerDevices& d) {
                  d.sources.push_back({"virtual_mic", "Virtual", false, 10, {kNone, "loop-7"}});
                  d.sourceOutputs.push_back({1, {kNone, "loop-7"}});
                  d.sinkInputs = {application(1)};
                },
                Monitors{}},
        MixCase{"anApplicationRecordingTheHeadphonesMakesThemNoLine",
                [](ServerDevices& d) {
                  d.sourceOutputs.push_back({1, {kNone, ""}});
                  d.sinkInputs = {application(1)};
                },
                Monitors{"headphones.monitor"}},
        MixCase{"aLoopbackFromTheDefaultMakesTheOtherOutputPlayNot",
                [](ServerDevices& d) {
                  d.sinkInputs = {application(0)};
                  addLoopback(d, 0, 1, {12, ""});
                },
                Monitors{}},
        MixCase{"aPipeWireLoopbackIsKnownByItsLinkGroup",
                [](ServerDevices& d) {
                  d.sinkInputs = {application(0)};
                  addLoopback(d, 0, 1, {kNone, "loopback-1-14"});
                },
                Monitors{}},
        MixCase{"aLoopbackBetweenOtherOutputsIsRecordedWhereItFirstPlayed",
                [](ServerDevices& d) {
                  addHdmi(d);
                  d.sinkInputs = {application(1)};
                  addLoopback(d, 1, 5, {12, ""});
                },
                Monitors{"headphones.monitor"}},
        MixCase{"aLoopbackIntoTheDefaultIsRecordedThere",
                [](ServerDevices& d) {
                  d.sinkInputs = {application(1)};
                  addLoopback(d, 1, 0, {12, ""});
                },
                Monitors{}},
        MixCase{"aLoopbackIntoAnOutputWhereApplicationsPlayIsRecordedThere",
                [](ServerDevices& d) {
                  addHdmi(d);
                  d.sinkInputs = {application(1), application(5)};
                  addLoopback(d, 1, 5, {12, ""});
                },
                Monitors{"hdmi.monitor"}},
        MixCase{"aPausedLoopbackLeavesItsOriginIn",
                [](ServerDevices& d) {
                  d.sinkInputs = {application(1)};
                  addLoopback(d, 1, 0, {12, ""});
                  d.sinkInputs.back().corked = true;
                },
                Monitors{"headphones.monitor"}},
        MixCase{"sinksPassingAudioToEachOtherEndTheSearch",
                [](ServerDevices& d) {
                  addVirtualSink(d, "one", 2, {7, ""}, {3});
                  addVirtualSink(d, "two", 3, {8, ""}, {2});
                  d.sinkInputs.push_back(application(2));
                },
                Monitors{}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mirevo::platform::pulse
