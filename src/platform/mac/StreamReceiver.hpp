// The object ScreenCaptureKit calls for one stream, as its output (for each
// registered output type) and as its delegate. It reaches the stream's
// StreamLink weakly, so that a callback arriving after the stream has gone
// does nothing.
//
// Objective-C++ only. Threads: sample buffers on the queue each output type
// was registered with; stops on a thread of ScreenCaptureKit.
#pragma once

#include <ScreenCaptureKit/ScreenCaptureKit.h>

#include <memory>

#include "platform/mac/StreamLink.hpp"

@interface MirevoStreamReceiver : NSObject <SCStreamOutput, SCStreamDelegate>

- (instancetype)initWithLink:(std::weak_ptr<mirevo::platform::mac::StreamLink>)link;

@end
