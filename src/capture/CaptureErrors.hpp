// The start sequence's own errors, domain "MirevoCapture". Their descriptions
// reach the parent word for word as the `message` of a `failed` event.
#pragma once

#include "platform/Error.hpp"

namespace mirevo::capture {

inline constexpr const char* kCaptureErrorDomain = "MirevoCapture";

enum class CaptureErrorCode {
  microphoneAccessDenied = 1,
  noDisplay = 2,
  microphoneUnavailable = 3,
};

platform::Error captureError(CaptureErrorCode code);

}  // namespace mirevo::capture
