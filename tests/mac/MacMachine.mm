#include "MacMachine.hpp"

#include <AVFoundation/AVFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <Foundation/Foundation.h>

#include <algorithm>

namespace mirevo::testing {

std::string macOSVersion() {
  @autoreleasepool {
    const char* text = [NSProcessInfo processInfo].operatingSystemVersionString.UTF8String;
    return text != nullptr ? text : "";
  }
}

std::vector<std::uint32_t> activeDisplays() {
  std::uint32_t count = 0;
  if (CGGetActiveDisplayList(0, nullptr, &count) != kCGErrorSuccess) return {};
  std::vector<CGDirectDisplayID> displays(count);
  if (CGGetActiveDisplayList(count, displays.data(), &count) != kCGErrorSuccess) return {};
  displays.resize(count);
  const auto main = std::find(displays.begin(), displays.end(), CGMainDisplayID());
  if (main != displays.end()) std::rotate(displays.begin(), main, main + 1);
  return {displays.begin(), displays.end()};
}

bool hasAudioInput() {
  @autoreleasepool {
    return [AVCaptureDevice defaultDeviceWithMediaType:AVMediaTypeAudio] != nil;
  }
}

}  // namespace mirevo::testing
