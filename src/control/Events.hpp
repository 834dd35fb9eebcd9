// The events the command loop builds itself: `self_test` and `devices`.
//
// Threads: any; the command loop calls them on the main thread.
#pragma once

#include <nlohmann/json.hpp>

namespace mirevo::control {

// The fixed answer to `--self-test`.
nlohmann::json selfTestEvent();

// The answer to `list_devices`, around the array of device objects.
nlohmann::json devicesEvent(nlohmann::json devices);

}  // namespace mirevo::control
