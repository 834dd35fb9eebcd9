// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the Foundation types the backend
// uses (strings, arrays and their literals and fast enumeration, errors, the
// process's uptime) and the macros the other declarations use.
#pragma once

#include <stddef.h>

#include <dispatch/dispatch.h>
#include <objc/NSObject.h>
#include <os/availability.h>

#define NS_ENUM(_type, _name) \
  enum _name : _type _name;   \
  enum _name : _type

#pragma clang assume_nonnull begin

typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;

typedef struct {
  unsigned long state;
  id __unsafe_unretained _Nullable* _Nullable itemsPtr;
  unsigned long* _Nullable mutationsPtr;
  unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState*)state
                                  objects:(id __unsafe_unretained _Nullable[_Nonnull])buffer
                                    count:(NSUInteger)len;
@end

@interface NSString : NSObject
+ (nullable instancetype)stringWithUTF8String:(const char*)nullTerminatedCString;
@property(nullable, readonly) const char* UTF8String;
@end

@interface NSArray<__covariant ObjectType> : NSObject <NSFastEnumeration>
+ (instancetype)arrayWithObjects:(const ObjectType _Nonnull[_Nonnull])objects count:(NSUInteger)cnt;
@end

typedef NSString* NSErrorDomain;

@interface NSError : NSObject
@property(readonly, copy) NSErrorDomain domain;
@property(readonly) NSInteger code;
@property(readonly, copy) NSString* localizedDescription;
@end

@interface NSProcessInfo : NSObject
@property(class, readonly, strong) NSProcessInfo* processInfo;
@property(readonly) NSTimeInterval systemUptime API_AVAILABLE(macos(10.6));
@property(readonly, copy) NSString* operatingSystemVersionString;
@end

#pragma clang assume_nonnull end
