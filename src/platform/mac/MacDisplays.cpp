#include "platform/mac/MacDisplays.hpp"

#include <string>

namespace mirevo::platform::mac {

Display displayOf(std::uint32_t displayID) {
  const std::string id = std::to_string(displayID);
  return Display{id, "Display " + id, ""};
}

}  // namespace mirevo::platform::mac
