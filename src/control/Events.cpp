#include "control/Events.hpp"

#include <utility>

namespace mirevo::control {

nlohmann::json selfTestEvent() {
  return {{"type", "self_test"},
          {"protocolVersion", 1},
          {"platform", "darwin"},
          {"minimumMacOS", "15.0"}};
}

nlohmann::json devicesEvent(nlohmann::json devices) {
  return {{"type", "devices"}, {"devices", std::move(devices)}};
}

}  // namespace mirevo::control
