// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the root class and protocol of the
// Objective-C runtime, and BOOL. BOOL is bool, as on Apple silicon.
#pragma once

typedef bool BOOL;
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
