#include "control/Events.hpp"

#include <gtest/gtest.h>

#include "events/Output.hpp"

namespace mirevo::control {
namespace {

TEST(EventsTest, SelfTestIsFixed) {
  EXPECT_EQ(Output::serialise(selfTestEvent()),
            R"({"minimumMacOS":"15.0","platform":"darwin","protocolVersion":1,"type":"self_test"})"
            "\n");
}

TEST(EventsTest, DevicesWrapsTheListInItsOrder) {
  const nlohmann::json devices = {{{"id", "builtin-mic-0"},
                                   {"isDefault", true},
                                   {"kind", "audioinput"},
                                   {"label", "Built-in Microphone"}},
                                  {{"id", "usb-headset-3"},
                                   {"isDefault", false},
                                   {"kind", "audioinput"},
                                   {"label", "USB Headset"}}};
  EXPECT_EQ(Output::serialise(devicesEvent(devices)),
            R"({"devices":[{"id":"builtin-mic-0","isDefault":true,"kind":"audioinput",)"
            R"("label":"Built-in Microphone"},{"id":"usb-headset-3","isDefault":false,)"
            R"("kind":"audioinput","label":"USB Headset"}],"type":"devices"})"
            "\n");
}

TEST(EventsTest, NoDevicesIsAnEmptyArray) {
  EXPECT_EQ(Output::serialise(devicesEvent(nlohmann::json::array())),
            R"({"devices":[],"type":"devices"})"
            "\n");
}

}  // namespace
}  // namespace mirevo::control
