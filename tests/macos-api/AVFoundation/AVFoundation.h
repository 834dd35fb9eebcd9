// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): microphone access and the audio
// capture devices. Like the real umbrella header, it brings in AVFAudio.
#pragma once

#include <AVFAudio/AVFAudio.h>
#include <Foundation/Foundation.h>

#pragma clang assume_nonnull begin

typedef NSString* AVMediaType;
extern AVMediaType const AVMediaTypeAudio;

typedef NSString* AVCaptureDeviceType;
extern AVCaptureDeviceType const AVCaptureDeviceTypeMicrophone;
extern AVCaptureDeviceType const AVCaptureDeviceTypeExternal;

typedef NS_ENUM(NSInteger, AVCaptureDevicePosition) {
  AVCaptureDevicePositionUnspecified = 0,
  AVCaptureDevicePositionBack = 1,
  AVCaptureDevicePositionFront = 2,
};

@interface AVCaptureDevice : NSObject
+ (nullable AVCaptureDevice*)defaultDeviceWithMediaType:(AVMediaType)mediaType;
+ (void)requestAccessForMediaType:(AVMediaType)mediaType
                completionHandler:(void (^)(BOOL granted))handler;
@property(nonatomic, readonly) NSString* uniqueID;
@property(nonatomic, readonly) NSString* localizedName;
@end

@interface AVCaptureDeviceDiscoverySession : NSObject
+ (instancetype)discoverySessionWithDeviceTypes:(NSArray<AVCaptureDeviceType>*)deviceTypes
                                      mediaType:(nullable AVMediaType)mediaType
                                       position:(AVCaptureDevicePosition)position;
@property(nonatomic, readonly) NSArray<AVCaptureDevice*>* devices;
@end

#pragma clang assume_nonnull end
