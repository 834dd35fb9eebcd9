#include "platform/mac/MacCaptureService.hpp"

#include <AVFoundation/AVFoundation.h>

#include "platform/mac/Completion.hpp"
#include "platform/mac/MacDisplays.hpp"
#include "platform/mac/MacErrors.hpp"
#include "platform/mac/MacStream.hpp"
#include "platform/mac/MacStreamConfiguration.hpp"
#include "platform/mac/ObjCBridge.hpp"

namespace mirevo::platform::mac {

bool MacCaptureService::requestMicrophoneAccess() {
  const auto answer = std::make_shared<Answer<bool>>();
  @autoreleasepool {
    [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                             completionHandler:^(BOOL granted) {
                               answer->value = granted;
                               answer->completion.signal();
                             }];
  }
  answer->completion.await("The microphone permission request", kPromptTimeoutSeconds);
  return answer->value;
}

ShareableContent MacCaptureService::shareableContent() {
  constexpr const char* kOperation = "The shareable content request";
  const auto answer = std::make_shared<Answer<SCShareableContent*>>();
  @autoreleasepool {
    [SCShareableContent
        getShareableContentExcludingDesktopWindows:NO
                               onScreenWindowsOnly:YES
                                 completionHandler:^(SCShareableContent* content, NSError* error) {
                                   answer->value = content;
                                   answer->error = error;
                                   answer->completion.signal();
                                 }];
  }
  answer->completion.await(kOperation, kPromptTimeoutSeconds);
  if (answer->error != nil) throw errorOf(answer->error);
  if (answer->value == nil) throw noAnswerError(kOperation);
  ShareableContent content;
  // The display list (autoreleased) in a pool of its own: the main thread
  // drains none.
  @autoreleasepool {
    displays_ = answer->value.displays;
    for (SCDisplay* display in displays_) content.displays.push_back(displayOf(display.displayID));
  }
  return content;
}

std::unique_ptr<Stream> MacCaptureService::makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      std::shared_ptr<StreamDelegate> delegate) {
  SCDisplay* display = displayNamed(filter.display.id);
  if (display == nil) throw unknownDisplayError();
  @autoreleasepool {
    SCContentFilter* contentFilter = [[SCContentFilter alloc] initWithDisplay:display
                                                        excludingApplications:@[]
                                                             exceptingWindows:@[]];
    return std::make_unique<MacStream>(contentFilter, makeStreamConfiguration(configuration),
                                       std::move(delegate));
  }
}

SCDisplay* MacCaptureService::displayNamed(const std::string& id) const {
  for (SCDisplay* display in displays_) {
    if (displayOf(display.displayID).id == id) return display;
  }
  return nil;
}

}  // namespace mirevo::platform::mac
