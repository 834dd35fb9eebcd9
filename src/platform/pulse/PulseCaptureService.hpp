// The capture service on the audio server: the "displays" are its output
// sinks (the default one first), each recorded through its monitor source.
//
// It owns the worker on which its streams do their work (connecting,
// applying the sources' rules, reconnecting, telling their delegates):
// streams must not outlive it.
//
// Threads: any thread but a libpulse loop thread; see CaptureService.
#pragma once

#include <memory>

#include "platform/CaptureService.hpp"
#include "platform/Clock.hpp"
#include "platform/ThreadQueue.hpp"

namespace mirevo::platform::pulse {

class PulseCaptureService final : public CaptureService {
 public:
  // `clock` stamps the streams' buffers; it must outlive every stream.
  explicit PulseCaptureService(const Clock& clock) : clock_(clock) {}

  // Linux has no per-application microphone permission outside sandboxes.
  bool requestMicrophoneAccess() override { return true; }
  // Throws the platform's Error, with libpulse's text, when no server answers.
  ShareableContent shareableContent() override;
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter,
                                     const StreamConfiguration& configuration,
                                     std::shared_ptr<StreamDelegate> delegate) override;

 private:
  const Clock& clock_;
  std::shared_ptr<ThreadQueue> worker_ = std::make_shared<ThreadQueue>("mirevo-pulse");
};

}  // namespace mirevo::platform::pulse
