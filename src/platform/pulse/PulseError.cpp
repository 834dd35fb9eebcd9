#include "platform/pulse/PulseError.hpp"

#include <pulse/error.h>

namespace mirevo::platform::pulse {

Error pulseError(int code) {
  const char* text = pa_strerror(code);
  return Error(kPulseErrorDomain, code, text != nullptr ? text : "Unknown error");
}

}  // namespace mirevo::platform::pulse
