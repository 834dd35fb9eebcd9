// Declarations for the compile check of the macOS backend, from Apple's public
// API reference: the audio buffer list that PCM is copied into.
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
