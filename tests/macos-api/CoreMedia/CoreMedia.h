// Declarations for the compile check of the macOS backend, from Apple's public
// API reference (not copied from any SDK): the times, the host clock and the
// sample-buffer functions the backend calls, with their reference signatures.
#pragma once

#include <CoreAudioTypes/CoreAudioTypes.h>
#include <CoreFoundation/CoreFoundation.h>
#include <MacTypes.h>
#include <os/availability.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma clang assume_nonnull begin

typedef int64_t CMTimeValue;
typedef int32_t CMTimeScale;
typedef uint32_t CMTimeFlags;
typedef int64_t CMTimeEpoch;

typedef struct {
  CMTimeValue value;
  CMTimeScale timescale;
  CMTimeFlags flags;
  CMTimeEpoch epoch;
} CMTime;

CMTime CMTimeMake(int64_t value, int32_t timescale) API_AVAILABLE(macos(10.7));
Float64 CMTimeGetSeconds(CMTime time) API_AVAILABLE(macos(10.7));

typedef struct OpaqueCMClock* CMClockRef;
CMClockRef CMClockGetHostTimeClock(void) API_AVAILABLE(macos(10.8));
CMTime CMClockGetTime(CMClockRef clock) API_AVAILABLE(macos(10.8));

typedef CFIndex CMItemCount;
typedef const struct opaqueCMFormatDescription* CMFormatDescriptionRef;
typedef CMFormatDescriptionRef CMAudioFormatDescriptionRef;
typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;

Boolean CMSampleBufferDataIsReady(CMSampleBufferRef sbuf) API_AVAILABLE(macos(10.7));
CMFormatDescriptionRef _Nullable CMSampleBufferGetFormatDescription(CMSampleBufferRef sbuf)
    API_AVAILABLE(macos(10.7));
CMItemCount CMSampleBufferGetNumSamples(CMSampleBufferRef sbuf) API_AVAILABLE(macos(10.7));
CMTime CMSampleBufferGetPresentationTimeStamp(CMSampleBufferRef sbuf) API_AVAILABLE(macos(10.7));
const AudioStreamBasicDescription* _Nullable CMAudioFormatDescriptionGetStreamBasicDescription(
    CMAudioFormatDescriptionRef desc) API_AVAILABLE(macos(10.7));
OSStatus CMSampleBufferCopyPCMDataIntoAudioBufferList(CMSampleBufferRef sbuf, int32_t frameOffset,
                                                      int32_t numFrames,
                                                      AudioBufferList* bufferList)
    API_AVAILABLE(macos(10.15));

#pragma clang assume_nonnull end

#ifdef __cplusplus
}
#endif
