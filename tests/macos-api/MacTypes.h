// Declarations written for the compile check of the macOS backend, from
// Apple's public API reference (not copied from any SDK): the basic types of
// MacTypes.h that the declarations below use.
#pragma once

#include <stdint.h>

typedef uint8_t UInt8;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef unsigned char Boolean;
typedef SInt32 OSStatus;
typedef double Float64;
