// A display that ScreenCaptureKit lists, as the platform's Display: its
// numeric display ID as the id. Its audio is the system's audio as a whole,
// so it names no audio source of its own.
#pragma once

#include <cstdint>

#include "platform/CaptureService.hpp"

namespace mirevo::platform::mac {

Display displayOf(std::uint32_t displayID);

}  // namespace mirevo::platform::mac
