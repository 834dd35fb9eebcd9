#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "capture/Capture.hpp"
#include "devices/InputDevices.hpp"
#include "platform/sim/SimPlatform.hpp"

namespace mirevo::testing {
namespace {

using platform::CaptureDevice;
using platform::sim::SimPlatform;

const CaptureDevice kBuiltIn{"builtin-mic", "Built-in Microphone"};
const CaptureDevice kHeadset{"usb-headset-3", "USB Headset"};
const CaptureDevice kCamera{"cam-7", "Camera Microphone"};
const CaptureDevice kPhone{"iphone-1", "iPhone Microphone"};  // of a type not discovered

nlohmann::json entry(const CaptureDevice& device, bool isDefault) {
  return {{"id", device.uniqueID},
          {"label", device.localizedName},
          {"kind", "audioinput"},
          {"isDefault", isDefault}};
}

struct ListingRow {
  std::string name;
  std::vector<CaptureDevice> devices;
  std::optional<CaptureDevice> defaultDevice;
  nlohmann::json expected;
};

TEST(InputDevicesTest, ListsEveryDeviceInPlatformOrderWithTheDefaultMarkedWhereItStands) {
  const std::vector<ListingRow> rows = {
      {"no device at all", {}, kBuiltIn, nlohmann::json::array()},
      {"devices but no default",
       {kBuiltIn, kHeadset},
       std::nullopt,
       {entry(kBuiltIn, false), entry(kHeadset, false)}},
      {"default not among the discovered",
       {kBuiltIn, kHeadset},
       kPhone,
       {entry(kBuiltIn, false), entry(kHeadset, false)}},
      {"default last, not moved to the front",
       {kCamera, kHeadset, kBuiltIn},
       kBuiltIn,
       {entry(kCamera, false), entry(kHeadset, false), entry(kBuiltIn, true)}},
      {"duplicates kept",
       {kHeadset, kHeadset},
       kHeadset,
       {entry(kHeadset, true), entry(kHeadset, true)}},
      {"default by identifier, whatever its name",
       {kHeadset},
       CaptureDevice{kHeadset.uniqueID, "another name"},
       nlohmann::json::array({entry(kHeadset, true)})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SimPlatform sim;
    sim.devices.setDevices(row.devices);
    sim.devices.setDefault(row.defaultDevice);
    EXPECT_EQ(Capture::devices(sim.platform()), row.expected);
  }
}

TEST(InputDevicesTest, AsksForTheDefaultFirstAndAfreshOnEveryCall) {
  SimPlatform sim;
  sim.devices.setDevices({kBuiltIn});
  sim.devices.setDefault(kBuiltIn);
  EXPECT_EQ(devices::listInputDevices(sim.devices), nlohmann::json::array({entry(kBuiltIn, true)}));
  EXPECT_EQ(sim.calls.calls(),
            (std::vector<std::string>{"defaultAudioDevice", "discoverAudioDevices"}));

  // A headset is plugged in and made the default; then the built-in one goes.
  sim.devices.setDevices({kBuiltIn, kHeadset});
  sim.devices.setDefault(kHeadset);
  EXPECT_EQ(Capture::devices(sim.platform()),
            nlohmann::json({entry(kBuiltIn, false), entry(kHeadset, true)}));
  sim.devices.setDevices({kHeadset});
  EXPECT_EQ(Capture::devices(sim.platform()), nlohmann::json::array({entry(kHeadset, true)}));
}

}  // namespace
}  // namespace mirevo::testing
