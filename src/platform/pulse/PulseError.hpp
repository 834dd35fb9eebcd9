// Errors of the audio server, as libpulse names them.
#pragma once

#include "platform/Error.hpp"

namespace mirevo::platform::pulse {

inline constexpr const char* kPulseErrorDomain = "PulseAudio";

// An error for a libpulse error code: the code, and libpulse's own text for it.
Error pulseError(int code);

}  // namespace mirevo::platform::pulse
