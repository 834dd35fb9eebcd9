// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the root class and protocol of the
// Objective-C runtime, and BOOL. BOOL is as the runtime defines it for each
// architecture: bool on Apple silicon, signed char on Intel Macs (clang tells
// which through __OBJC_BOOL_IS_BOOL).
#pragma once

#if __OBJC_BOOL_IS_BOOL
typedef bool BOOL;
#else
typedef signed char BOOL;
#endif
#define YES __objc_yes
#define NO __objc_no

#ifndef nil
#define nil nullptr
#endif

#pragma clang assume_nonnull begin

@protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject<NSObject>
+ (instancetype)alloc;
- (instancetype)init;
@end

#pragma clang assume_nonnull end
