// The capture service on AVFoundation and ScreenCaptureKit: microphone access,
// the displays that can be captured, and streams over one of them. The calls
// that complete through a handler wait for it with a deadline.
//
// Objective-C++ only. Threads: one thread at a time, never a session's queue.
#pragma once

#include <ScreenCaptureKit/ScreenCaptureKit.h>

#include "platform/CaptureService.hpp"

namespace mirevo::platform::mac {

class MacCaptureService final : public CaptureService {
 public:
  // Asks for microphone access (the system prompts the first time).
  bool requestMicrophoneAccess() override;
  // The displays, in the system's order; throws the system's error (also when
  // screen recording is not allowed) or a timeout.
  ShareableContent shareableContent() override;
  // Over the display of the last shareable content whose id the filter
  // names; the filter's application and window lists are not used (the
  // session leaves them empty). Throws when that display is not known.
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter,
                                     const StreamConfiguration& configuration,
                                     std::shared_ptr<StreamDelegate> delegate) override;

 private:
  SCDisplay* displayNamed(const std::string& id) const;

  NSArray<SCDisplay*>* displays_ = nil;
};

}  // namespace mirevo::platform::mac
