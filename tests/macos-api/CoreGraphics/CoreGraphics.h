// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the display identifier
// ScreenCaptureKit names displays by, the list of active displays, and the
// screen-recording permission asked without a prompt.
#pragma once

#include <MacTypes.h>
#include <os/availability.h>
#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef UInt32 CGDirectDisplayID;
typedef int32_t CGError;
enum : CGError {
  kCGErrorSuccess = 0,
};

CGError CGGetActiveDisplayList(uint32_t maxDisplays, CGDirectDisplayID* _Nullable activeDisplays,
                               uint32_t* _Nullable displayCount) API_AVAILABLE(macos(10.0));
CGDirectDisplayID CGMainDisplayID(void) API_AVAILABLE(macos(10.0));
// Whether this process may record the screen (and the system's audio), without asking.
bool CGPreflightScreenCaptureAccess(void) API_AVAILABLE(macos(10.15));

#ifdef __cplusplus
}
#endif
