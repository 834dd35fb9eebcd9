#include "platform/mac/MacCaptureService.hpp"

#include <AVFoundation/AVFoundation.h>

#include "platform/mac/CompletionAnswer.hpp"
#include "platform/mac/DispatchCompletion.hpp"
#include "platform/mac/MacDisplays.hpp"
#include "platform/mac/MacErrors.hpp"
#include "platform/mac/MacStream.hpp"
#include "platform/mac/MacStreamConfiguration.hpp"
#include "platform/mac/ObjCBridge.hpp"

namespace mirevo::platform::mac {

bool MacCaptureService::requestMicrophoneAccess() {
  const auto answer = std::make_shared<CompletionAnswer<bool>>(DispatchCompletion::make());
  @autoreleasepool {
    [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                             completionHandler:^(BOOL granted) {
                               answer->answer(static_cast<bool>(granted), std::nullopt);
                             }];
  }
  return answer->value("The microphone permission request", kPromptTimeoutSeconds);
}

ShareableContent MacCaptureService::shareableContent() {
  const auto answer =
      std::make_shared<CompletionAnswer<SCShareableContent*>>(DispatchCompletion::make());
  @autoreleasepool {
    [SCShareableContent
        getShareableContentExcludingDesktopWindows:NO
                               onScreenWindowsOnly:YES
                                 completionHandler:^(SCShareableContent* content, NSError* error) {
                                   answer->answer(
                                       content != nil ? std::optional(content) : std::nullopt,
                                       errorIfAny(error));
                                 }];
  }
  SCShareableContent* const found =
      answer->value("The shareable content request", kPromptTimeoutSeconds);
  ShareableContent content;
  // The display list (autoreleased) in a pool of its own: the main thread
  // drains none.
  @autoreleasepool {
    displays_ = found.displays;
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
