// What the stream holds instead of the session itself: a weak reference, so a
// callback that arrives after the session is gone does nothing, and the
// stream never keeps its session alive.
//
// Threads: the sample callback on the session's queue; the stop callback on a
// platform thread.
#pragma once

#include <memory>

#include "capture/Capture.hpp"
#include "platform/CaptureService.hpp"

namespace mirevo::capture {

class StreamCallbacks final : public platform::StreamOutput, public platform::StreamDelegate {
 public:
  explicit StreamCallbacks(std::weak_ptr<Capture> session) : session_(std::move(session)) {}

  void didOutputSampleBuffer(const platform::SampleBuffer& buffer, int outputType) override {
    if (const auto session = session_.lock()) session->didOutputSampleBuffer(buffer, outputType);
  }

  void didStopWithError(const platform::Error& error) override {
    if (const auto session = session_.lock()) session->didStopWithError(error);
  }

 private:
  std::weak_ptr<Capture> session_;
};

}  // namespace mirevo::capture
