// A ScreenCaptureKit stream over one display: the system's audio (output
// type 1) and the configured microphone (output type 2), delivered by the
// system straight onto the session's queue. Nothing here bounds how many
// buffers wait there when the queue falls behind: the system queues them
// itself, and its reference says nothing of a limit for audio.
//
// How it starts, stops and is torn down is StreamControl's; here only the
// calls into ScreenCaptureKit and the hand-over of their answers.
//
// Objective-C++ only. Threads: the Stream calls from one thread at a time,
// never the session's queue; buffers go to the outputs on their queue, and so
// do stop reports. The destructor may run on any thread, the queue included.
#pragma once

#include <ScreenCaptureKit/ScreenCaptureKit.h>

#include <memory>

#include "platform/CaptureService.hpp"
#include "platform/mac/StreamControl.hpp"
#include "platform/mac/StreamLink.hpp"
#include "platform/mac/StreamReceiver.hpp"

namespace mirevo::platform::mac {

class MacStream final : public Stream, SystemStream {
 public:
  MacStream(SCContentFilter* filter, SCStreamConfiguration* configuration,
            std::shared_ptr<StreamDelegate> delegate);
  ~MacStream() override;
  MacStream(const MacStream&) = delete;
  MacStream& operator=(const MacStream&) = delete;

  // `queue` must come from the macOS platform's queue factory: its dispatch
  // queue becomes the sample handler queue. Throws the platform's Error.
  void addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                       std::shared_ptr<SerialQueue> queue) override;
  void startCapture() override { control_.start(); }
  void stopCapture() override { control_.stop(); }

 private:
  void requestStart(StartAnswer answer) override;
  void requestStop(StopAnswer answer) override;
  void removeOutput(int outputType) override;

  std::shared_ptr<StreamLink> link_;
  MirevoStreamReceiver* receiver_;
  SCStream* stream_;
  StreamControl control_;
};

}  // namespace mirevo::platform::mac
