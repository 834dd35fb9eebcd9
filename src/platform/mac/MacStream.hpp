// A ScreenCaptureKit stream over one display: the system's audio (output
// type 1) and the configured microphone (output type 2), delivered by the
// system straight onto the session's queue. Nothing here bounds how many
// buffers wait there when the queue falls behind: the system queues them
// itself, and its reference says nothing of a limit for audio.
//
// Starting and stopping await the system's answer with a deadline. A start
// that passes its deadline is given up: if it succeeds later, the stream is
// stopped again and none of its buffers is delivered. A stream that stopped on
// its own with an error reports that once to the delegate; stopping it
// afterwards succeeds.
//
// Objective-C++ only. Threads: the Stream calls from one thread at a time,
// never the session's queue; buffers go to the outputs on their queue, and so
// do stop reports. The destructor may run on any thread, the queue included.
#pragma once

#include <ScreenCaptureKit/ScreenCaptureKit.h>

#include <memory>

#include "platform/CaptureService.hpp"
#include "platform/mac/StreamLink.hpp"
#include "platform/mac/StreamReceiver.hpp"

namespace mirevo::platform::mac {

class MacStream final : public Stream {
 public:
  MacStream(SCContentFilter* filter, SCStreamConfiguration* configuration,
            std::shared_ptr<StreamDelegate> delegate);
  // Closes the link (waiting for a call in progress on an output's queue),
  // asks the system to stop a capture that still runs without waiting, and
  // removes the outputs. A buffer the system has already queued finds the
  // link closed and does nothing.
  ~MacStream() override;
  MacStream(const MacStream&) = delete;
  MacStream& operator=(const MacStream&) = delete;

  // `queue` must come from the macOS platform's queue factory: its dispatch
  // queue becomes the sample handler queue. Throws the platform's Error.
  void addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                       std::shared_ptr<SerialQueue> queue) override;
  void startCapture() override;
  // Does nothing when capture never started.
  void stopCapture() override;

 private:
  // Asks the system to stop and waits for its answer; throws its error.
  void awaitStop();

  std::shared_ptr<StreamLink> link_;
  MirevoStreamReceiver* receiver_;
  SCStream* stream_;
};

}  // namespace mirevo::platform::mac
