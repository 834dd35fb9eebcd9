// The audio input devices for the parent's microphone picker, and for the
// start sequence's check of a requested microphone: one entry per device, in
// the platform's order, the default one marked where it stands.
//
// Threads: any; keeps no state, asks the platform afresh on every call.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/DeviceDiscovery.hpp"

namespace mirevo::devices {

// An array of {"id", "label", "kind": "audioinput", "isDefault"} objects; empty
// when there is no device. Never fails.
nlohmann::json listInputDevices(platform::DeviceDiscovery& discovery);

}  // namespace mirevo::devices
