#include "platform/mac/StreamReceiver.hpp"

#include <utility>

#include "platform/mac/MacSampleBuffer.hpp"
#include "platform/mac/ObjCBridge.hpp"

@implementation MirevoStreamReceiver {
  std::weak_ptr<mirevo::platform::mac::StreamLink> _link;
}

- (instancetype)initWithLink:(std::weak_ptr<mirevo::platform::mac::StreamLink>)link {
  self = [super init];
  if (self != nil) _link = std::move(link);
  return self;
}

- (void)stream:(SCStream*)stream
    didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer
                   ofType:(SCStreamOutputType)type {
  // Each buffer empties its own autorelease pool instead of leaving it to the queue.
  @autoreleasepool {
    if (const auto link = _link.lock()) {
      link->deliver(mirevo::platform::mac::MacSampleBuffer(sampleBuffer), static_cast<int>(type));
    }
  }
}

- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error {
  @autoreleasepool {
    if (const auto link = _link.lock()) link->reportStop(mirevo::platform::mac::errorOf(error));
  }
}

@end
