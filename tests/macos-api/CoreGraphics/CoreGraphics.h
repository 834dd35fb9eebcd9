// Declarations for the compile check of the macOS backend, from Apple's public
// API reference: the display identifier ScreenCaptureKit names displays by.
#pragma once

#include <MacTypes.h>

typedef UInt32 CGDirectDisplayID;
