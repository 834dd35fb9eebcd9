// The macOS platform: ScreenCaptureKit for the system's audio and the
// microphone, AVFoundation for microphone access and the device list, Core
// Media's host clock, and Dispatch for the sessions' queues.
//
// Plain C++: the process entry includes it.
#pragma once

#include <memory>

#include "platform/Platform.hpp"

namespace mirevo::platform::mac {

// Owns every macOS service behind one Platform. Constructing it asks the
// system nothing.
class MacPlatform {
 public:
  MacPlatform();
  ~MacPlatform();
  MacPlatform(const MacPlatform&) = delete;
  MacPlatform& operator=(const MacPlatform&) = delete;

  Platform& platform();

 private:
  struct Services;
  std::unique_ptr<Services> services_;
};

}  // namespace mirevo::platform::mac
