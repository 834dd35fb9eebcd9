#include "RecordingPermissions.hpp"

#include <AVFoundation/AVFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

namespace mirevo::testing {
namespace {

AVAuthorizationStatus microphoneStatus() {
  @autoreleasepool {
    return [AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio];
  }
}

std::string nameOf(AVAuthorizationStatus status) {
  switch (status) {
    case AVAuthorizationStatusNotDetermined:
      return "not determined (the first start would prompt)";
    case AVAuthorizationStatusRestricted:
      return "restricted";
    case AVAuthorizationStatusDenied:
      return "denied";
    case AVAuthorizationStatusAuthorized:
      return "granted";
  }
  return "unknown (" + std::to_string(static_cast<long>(status)) + ")";
}

}  // namespace

std::optional<std::string> missingRecordingPermission() {
  const AVAuthorizationStatus microphone = microphoneStatus();
  if (microphone != AVAuthorizationStatusAuthorized) {
    return "microphone access for the app that runs the tests is " + nameOf(microphone);
  }
  if (!CGPreflightScreenCaptureAccess()) {
    return "screen and system audio recording is not granted to the app that runs the tests";
  }
  return std::nullopt;
}

std::string recordingPermissionStates() {
  return "microphone " + nameOf(microphoneStatus()) + ", screen recording " +
         (CGPreflightScreenCaptureAccess() ? "granted" : "not granted");
}

}  // namespace mirevo::testing
