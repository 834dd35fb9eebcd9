// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the audio format made from a
// sample buffer's format description.
#pragma once

#include <CoreMedia/CoreMedia.h>
#include <Foundation/Foundation.h>
#include <os/availability.h>

#pragma clang assume_nonnull begin

typedef uint32_t AVAudioChannelCount;

typedef NS_ENUM(NSUInteger, AVAudioCommonFormat) {
  AVAudioOtherFormat = 0,
  AVAudioPCMFormatFloat32 = 1,
  AVAudioPCMFormatFloat64 = 2,
  AVAudioPCMFormatInt16 = 3,
  AVAudioPCMFormatInt32 = 4,
};

API_AVAILABLE(macos(10.10))
@interface AVAudioFormat : NSObject
- (nullable instancetype)initWithCMAudioFormatDescription:
    (CMAudioFormatDescriptionRef)formatDescription API_AVAILABLE(macos(10.11));
@property(nonatomic, readonly) double sampleRate;
@property(nonatomic, readonly) AVAudioChannelCount channelCount;
@property(nonatomic, readonly, getter=isInterleaved) BOOL interleaved;
@property(nonatomic, readonly) AVAudioCommonFormat commonFormat;
@end

#pragma clang assume_nonnull end
