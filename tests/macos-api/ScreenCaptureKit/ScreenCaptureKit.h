// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): shareable content, content
// filters, stream configurations and streams with their output and delegate
// protocols, as far as the backend uses them.
#pragma once

#include <CoreGraphics/CoreGraphics.h>
#include <CoreMedia/CoreMedia.h>
#include <Foundation/Foundation.h>
#include <dispatch/dispatch.h>
#include <os/availability.h>

#pragma clang assume_nonnull begin

typedef NS_ENUM(NSInteger, SCStreamOutputType) {
  SCStreamOutputTypeScreen,
  SCStreamOutputTypeAudio API_AVAILABLE(macos(13.0)),
  SCStreamOutputTypeMicrophone API_AVAILABLE(macos(15.0)),
} API_AVAILABLE(macos(12.3));

API_AVAILABLE(macos(12.3))
@interface SCRunningApplication : NSObject
@end

API_AVAILABLE(macos(12.3))
@interface SCWindow : NSObject
@end

API_AVAILABLE(macos(12.3))
@interface SCDisplay : NSObject
@property(readonly) CGDirectDisplayID displayID;
@end

API_AVAILABLE(macos(12.3))
@interface SCShareableContent : NSObject
+ (void)getShareableContentExcludingDesktopWindows:(BOOL)excludeDesktopWindows
                               onScreenWindowsOnly:(BOOL)onScreenWindowsOnly
                                 completionHandler:
                                     (void (^)(SCShareableContent* _Nullable shareableContent,
                                               NSError* _Nullable error))completionHandler;
@property(readonly) NSArray<SCDisplay*>* displays;
@end

API_AVAILABLE(macos(12.3))
@interface SCContentFilter : NSObject
- (instancetype)initWithDisplay:(SCDisplay*)display
          excludingApplications:(NSArray<SCRunningApplication*>*)applications
               exceptingWindows:(NSArray<SCWindow*>*)exceptingWindows;
@end

API_AVAILABLE(macos(12.3))
@interface SCStreamConfiguration : NSObject
@property(nonatomic, assign) BOOL capturesAudio API_AVAILABLE(macos(13.0));
@property(nonatomic, assign) BOOL captureMicrophone API_AVAILABLE(macos(15.0));
@property(nonatomic, strong, nullable)
    NSString* microphoneCaptureDeviceID API_AVAILABLE(macos(15.0));
@property(nonatomic, assign) BOOL excludesCurrentProcessAudio API_AVAILABLE(macos(13.0));
@property(nonatomic, assign) NSInteger sampleRate API_AVAILABLE(macos(13.0));
@property(nonatomic, assign) NSInteger channelCount API_AVAILABLE(macos(13.0));
@property(nonatomic, assign) size_t width;
@property(nonatomic, assign) size_t height;
@property(nonatomic, assign) CMTime minimumFrameInterval;
@property(nonatomic, assign) BOOL showsCursor;
@end

@class SCStream;

API_AVAILABLE(macos(12.3))
@protocol SCStreamOutput <NSObject>
@optional
- (void)stream:(SCStream*)stream
    didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer
                   ofType:(SCStreamOutputType)type;
@end

API_AVAILABLE(macos(12.3))
@protocol SCStreamDelegate <NSObject>
@optional
- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error;
@end

API_AVAILABLE(macos(12.3))
@interface SCStream : NSObject
- (instancetype)initWithFilter:(SCContentFilter*)contentFilter
                 configuration:(SCStreamConfiguration*)streamConfig
                      delegate:(nullable id<SCStreamDelegate>)delegate;
- (BOOL)addStreamOutput:(id<SCStreamOutput>)output
                   type:(SCStreamOutputType)type
     sampleHandlerQueue:(nullable dispatch_queue_t)sampleHandlerQueue
                  error:(NSError**)error;
- (BOOL)removeStreamOutput:(id<SCStreamOutput>)output
                      type:(SCStreamOutputType)type
                     error:(NSError**)error;
- (void)startCaptureWithCompletionHandler:
    (nullable void (^)(NSError* _Nullable error))completionHandler;
- (void)stopCaptureWithCompletionHandler:
    (nullable void (^)(NSError* _Nullable error))completionHandler;
@end

#pragma clang assume_nonnull end
