#include "platform/mac/MacStream.hpp"

#include <utility>

#include "platform/mac/DispatchCompletion.hpp"
#include "platform/mac/DispatchSerialQueue.hpp"
#include "platform/mac/MacErrors.hpp"
#include "platform/mac/ObjCBridge.hpp"

namespace mirevo::platform::mac {

static_assert(SCStreamOutputTypeScreen == kOutputTypeScreen);
static_assert(SCStreamOutputTypeAudio == kOutputTypeAudio);
static_assert(SCStreamOutputTypeMicrophone == kOutputTypeMicrophone);

MacStream::MacStream(SCContentFilter* filter, SCStreamConfiguration* configuration,
                     std::shared_ptr<StreamDelegate> delegate)
    : link_(std::make_shared<StreamLink>(std::move(delegate))),
      receiver_([[MirevoStreamReceiver alloc] initWithLink:link_]),
      stream_([[SCStream alloc] initWithFilter:filter
                                 configuration:configuration
                                      delegate:receiver_]),
      control_(link_, *this, &DispatchCompletion::make) {}

MacStream::~MacStream() {
  @autoreleasepool {
    control_.teardown();
  }
}

void MacStream::addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                                std::shared_ptr<SerialQueue> queue) {
  const auto* dispatchQueue = dynamic_cast<const DispatchSerialQueue*>(queue.get());
  if (dispatchQueue == nullptr) throw foreignQueueError();
  NSError* error = nil;
  BOOL added = NO;
  // Nothing is thrown inside the pool: it would be left behind unpopped.
  @autoreleasepool {
    added = [stream_ addStreamOutput:receiver_
                                type:static_cast<SCStreamOutputType>(outputType)
                  sampleHandlerQueue:dispatchQueue->dispatchQueue()
                               error:&error];
  }
  if (!added) throw error != nil ? errorOf(error) : noAnswerError("Adding a stream output");
  link_->add(outputType, std::move(output), std::move(queue));
}

void MacStream::requestStart(StartAnswer answer) {
  __weak SCStream* weakStream = stream_;
  @autoreleasepool {
    [stream_ startCaptureWithCompletionHandler:^(NSError* error) {
      if (answer(errorIfAny(error))) [weakStream stopCaptureWithCompletionHandler:nil];
    }];
  }
}

void MacStream::requestStop(StopAnswer answer) {
  @autoreleasepool {
    if (!answer) {
      [stream_ stopCaptureWithCompletionHandler:nil];
      return;
    }
    [stream_ stopCaptureWithCompletionHandler:^(NSError* error) {
      answer(errorIfAny(error));
    }];
  }
}

void MacStream::removeOutput(int outputType) {
  [stream_ removeStreamOutput:receiver_ type:static_cast<SCStreamOutputType>(outputType) error:nil];
}

}  // namespace mirevo::platform::mac
