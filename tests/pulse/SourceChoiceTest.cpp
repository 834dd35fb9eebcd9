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
  devices.sinks = {{"speakers", "Speakers", "speakers.monitor"},
                   {"headphones", "Headphones", "headphones.monitor"}};
  devices.sources = {{"speakers.monitor", "Monitor of Speakers", true},
                     {"headphones.monitor", "Monitor of Headphones", true},
                     {"mic", "Microphone", false},
                     {"usb", "USB Headset", false}};
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

}  // namespace
}  // namespace mirevo::platform::pulse
