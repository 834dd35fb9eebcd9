#include "capture/CaptureErrors.hpp"

namespace mirevo::capture {
namespace {

const char* descriptionOf(CaptureErrorCode code) {
  switch (code) {
    case CaptureErrorCode::microphoneAccessDenied:
      return "Allow Mirevo microphone access in System Settings → Privacy & Security → "
             "Microphone, then restart Mirevo.";
    case CaptureErrorCode::noDisplay:
      return "An active macOS display is required for system audio capture.";
    case CaptureErrorCode::microphoneUnavailable:
      return "The selected microphone is no longer available.";
  }
  return "";
}

}  // namespace

platform::Error captureError(CaptureErrorCode code) {
  return platform::Error(kCaptureErrorDomain, static_cast<std::int64_t>(code), descriptionOf(code));
}

}  // namespace mirevo::capture
