// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the Core Foundation types Core
// Media's declarations use, and the strings, their normalization and their
// comparison that decide Unicode canonical equivalence.
#pragma once

#include <MacTypes.h>
#include <os/availability.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma clang assume_nonnull begin

typedef signed long CFIndex;
typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef UInt32 CFStringEncoding;

extern const CFAllocatorRef _Nullable kCFAllocatorDefault API_AVAILABLE(macos(10.0));

enum : CFStringEncoding {
  kCFStringEncodingUTF8 = 0x08000100,
};

typedef CFIndex CFStringNormalizationForm;
enum : CFStringNormalizationForm {
  kCFStringNormalizationFormD = 0,
  kCFStringNormalizationFormKD = 1,
  kCFStringNormalizationFormC = 2,
  kCFStringNormalizationFormKC = 3,
};

void CFRelease(CFTypeRef cf) API_AVAILABLE(macos(10.0));
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) API_AVAILABLE(macos(10.0));
CFStringRef _Nullable CFStringCreateWithBytes(CFAllocatorRef _Nullable alloc, const UInt8* bytes,
                                              CFIndex numBytes, CFStringEncoding encoding,
                                              Boolean isExternalRepresentation)
    API_AVAILABLE(macos(10.0));
CFMutableStringRef _Nullable CFStringCreateMutableCopy(CFAllocatorRef _Nullable alloc,
                                                       CFIndex maxLength, CFStringRef theString)
    API_AVAILABLE(macos(10.0));
void CFStringNormalize(CFMutableStringRef theString, CFStringNormalizationForm theForm)
    API_AVAILABLE(macos(10.2));

#pragma clang assume_nonnull end

#ifdef __cplusplus
}
#endif
