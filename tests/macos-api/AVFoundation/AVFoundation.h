// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): microphone access (asked, and its
// state read without asking) and the audio capture devices. Like the real umbrella header, it
// brings in AVFAudio.
#pragma once

#include <AVFAudio/AVFAudio.h>
#include <Foundation/Foundation.h>
#include <os/availability.h>

#pragma clang assume_nonnull begin

typedef NSString* AVMediaType;
extern AVMediaType const AVMediaTypeAudio API_AVAILABLE(macos(10.7));

typedef NSString* AVCaptureDeviceType;
extern AVCaptureDeviceType const AVCaptureDeviceTypeMicrophone API_AVAILABLE(macos(14.0));
extern AVCaptureDeviceType const AVCaptureDeviceTypeExternal API_AVAILABLE(macos(14.0));

typedef NS_ENUM(NSInteger, AVCaptureDevicePosition) {
  AVCaptureDevicePositionUnspecified = 0,
  AVCaptureDevicePositionBack = 1,
  AVCaptureDevicePositionFront = 2,
} API_AVAILABLE(macos(10.7));

typedef NS_ENUM(NSInteger, AVAuthorizationStatus) {
  AVAuthorizationStatusNotDetermined = 0,
  AVAuthorizationStatusRestricted = 1,
  AVAuthorizationStatusDenied = 2,
  AVAuthorizationStatusAuthorized = 3,
} API_AVAILABLE(macos(10.14));

API_AVAILABLE(macos(10.7))
@interface AVCaptureDevice : NSObject
+ (nullable AVCaptureDevice*)defaultDeviceWithMediaType:(AVMediaType)mediaType;
+ (void)requestAccessForMediaType:(AVMediaType)mediaType
                completionHandler:(void (^)(BOOL granted))handler API_AVAILABLE(macos(10.14));
+ (AVAuthorizationStatus)authorizationStatusForMediaType:(AVMediaType)mediaType
    API_AVAILABLE(macos(10.14));
@property(nonatomic, readonly) NSString* uniqueID;
@property(nonatomic, readonly) NSString* localizedName;
@end

API_AVAILABLE(macos(10.15))
@interface AVCaptureDeviceDiscoverySession : NSObject
+ (instancetype)discoverySessionWithDeviceTypes:(NSArray<AVCaptureDeviceType>*)deviceTypes
                                      mediaType:(nullable AVMediaType)mediaType
                                       position:(AVCaptureDevicePosition)position;
@property(nonatomic, readonly) NSArray<AVCaptureDevice*>* devices;
@end

#pragma clang assume_nonnull end
