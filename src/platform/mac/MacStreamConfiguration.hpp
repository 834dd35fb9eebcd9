// A ScreenCaptureKit stream configuration with the values of a
// StreamConfiguration, set in the order StreamSettings gives them.
//
// Objective-C++ only.
#pragma once

#include <ScreenCaptureKit/ScreenCaptureKit.h>

#include "platform/CaptureService.hpp"

namespace mirevo::platform::mac {

SCStreamConfiguration* makeStreamConfiguration(const StreamConfiguration& configuration);

}  // namespace mirevo::platform::mac
