#include "platform/mac/MacStream.hpp"

#include <utility>

#include "platform/mac/Completion.hpp"
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
                                      delegate:receiver_]) {}

MacStream::~MacStream() {
  @autoreleasepool {
    link_->close();
    if (link_->gate().running() || link_->gate().givenUp()) {
      [stream_ stopCaptureWithCompletionHandler:nil];
    }
    for (const int type : link_->outputTypes()) {
      [stream_ removeStreamOutput:receiver_ type:static_cast<SCStreamOutputType>(type) error:nil];
    }
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

void MacStream::startCapture() {
  constexpr const char* kOperation = "Starting the capture";
  const auto answer = std::make_shared<Answer<bool>>();
  const std::weak_ptr<StreamLink> weakLink = link_;
  __weak SCStream* weakStream = stream_;
  @autoreleasepool {
    [stream_ startCaptureWithCompletionHandler:^(NSError* error) {
      // Marked here, before the first buffer can arrive on the queue.
      const auto link = weakLink.lock();
      if (error == nil && link && !link->gate().markStarted()) {
        // Given up meanwhile: nobody will stop this capture but us.
        [weakStream stopCaptureWithCompletionHandler:nil];
      }
      answer->error = error;
      answer->completion.signal();
    }];
  }
  try {
    answer->completion.await(kOperation, kCaptureTimeoutSeconds);
  } catch (const Error&) {
    if (link_->gate().giveUpStart()) throw;
    return;  // it succeeded at the last moment
  }
  if (answer->error != nil) throw errorOf(answer->error);
}

void MacStream::stopCapture() {
  StreamGate& gate = link_->gate();
  if (gate.givenUp()) {
    // A start that may have succeeded after all: stop it, whatever it says.
    try {
      awaitStop();
    } catch (const Error&) {
    }
    gate.markStopped();
    return;
  }
  if (!gate.running()) return;
  gate.markStopping();
  try {
    awaitStop();
  } catch (const Error&) {
    // After a reported stop the system has nothing more to stop.
    if (!gate.stopReported()) throw;
  }
  gate.markStopped();
}

void MacStream::awaitStop() {
  const auto answer = std::make_shared<Answer<bool>>();
  @autoreleasepool {
    [stream_ stopCaptureWithCompletionHandler:^(NSError* error) {
      answer->error = error;
      answer->completion.signal();
    }];
  }
  answer->completion.await("Stopping the capture", kCaptureTimeoutSeconds);
  if (answer->error != nil) throw errorOf(answer->error);
}

}  // namespace mirevo::platform::mac
