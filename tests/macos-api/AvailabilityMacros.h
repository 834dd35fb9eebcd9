// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the deployment target as a
// version number. GoogleTest includes this on Apple's systems.
#pragma once

#define MAC_OS_X_VERSION_MIN_REQUIRED __ENVIRONMENT_MAC_OS_X_VERSION_MIN_REQUIRED__
