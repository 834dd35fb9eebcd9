// What this Mac has that a recording needs besides the permissions: an active
// display (ScreenCaptureKit captures the system's audio over one) and an
// audio input device. Asked of the system directly, without a prompt.
//
// Plain C++; built on macOS only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mirevo::testing {

// The system's version, as "Version 15.1 (Build 24B83)".
std::string macOSVersion();
// The active displays' IDs, the main display first.
std::vector<std::uint32_t> activeDisplays();
// Whether the system has a default audio input device.
bool hasAudioInput();

}  // namespace mirevo::testing
