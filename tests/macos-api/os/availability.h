// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the availability marker the
// declarations carry, API_AVAILABLE(macos(13.0)), which makes clang's
// unguarded-availability check refuse a call made below its macOS version.
#pragma once

#define MIREVO_AVAILABILITY_macos(version) availability(macos, introduced = version)
#define API_AVAILABLE(platform) __attribute__((MIREVO_AVAILABILITY_##platform))
