// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the target macros, for a Mac.
// GoogleTest includes this on Apple's systems.
#pragma once

#define TARGET_OS_MAC 1
#define TARGET_OS_OSX 1
#define TARGET_OS_IPHONE 0
#define TARGET_OS_IOS 0
#define TARGET_OS_TV 0
#define TARGET_OS_WATCH 0
#define TARGET_OS_VISION 0
#define TARGET_OS_SIMULATOR 0
#define TARGET_OS_EMBEDDED 0
#define TARGET_CPU_ARM64 (__aarch64__ + 0)
#define TARGET_CPU_X86_64 (__x86_64__ + 0)
