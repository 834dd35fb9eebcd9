// Declarations for the compile check of the macOS backend, from Apple's public
// API reference: the audio buffer list that PCM is copied into, and the stream
// description that tells how a buffer's samples are laid out.
#pragma once

#include <MacTypes.h>

struct AudioBuffer {
  UInt32 mNumberChannels;
  UInt32 mDataByteSize;
  void* mData;
};
typedef struct AudioBuffer AudioBuffer;

struct AudioBufferList {
  UInt32 mNumberBuffers;
  AudioBuffer mBuffers[1];  // as many as mNumberBuffers
};
typedef struct AudioBufferList AudioBufferList;

typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;

struct AudioStreamBasicDescription {
  Float64 mSampleRate;
  AudioFormatID mFormatID;
  AudioFormatFlags mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
};
typedef struct AudioStreamBasicDescription AudioStreamBasicDescription;

enum : AudioFormatID {
  kAudioFormatLinearPCM = 'lpcm',
};

enum : AudioFormatFlags {
  kAudioFormatFlagIsFloat = (1U << 0),
  kAudioFormatFlagIsBigEndian = (1U << 1),
  kAudioFormatFlagIsSignedInteger = (1U << 2),
  kAudioFormatFlagIsPacked = (1U << 3),
  kAudioFormatFlagIsAlignedHigh = (1U << 4),
  kAudioFormatFlagIsNonInterleaved = (1U << 5),
  kAudioFormatFlagIsNonMixable = (1U << 6),
};
