#include "platform/pulse/PulseStream.hpp"

#include <pulse/error.h>

#include <exception>

#include "platform/pulse/PulseError.hpp"
#include "platform/pulse/ServerRecording.hpp"

namespace mirevo::platform::pulse {

PulseStream::PulseStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                         std::shared_ptr<StreamDelegate> delegate, const Clock& clock,
                         std::shared_ptr<SerialQueue> worker)
    : worker_(std::move(worker)),
      recording_(std::make_shared<ServerRecording>(filter, configuration, std::move(delegate),
                                                   clock, worker_)) {}

PulseStream::~PulseStream() {
  recording_->outputs().close();
  // On the worker itself (the delegate let go of the stream) this runs in
  // place.
  worker_->sync([recording = recording_] { recording->release(); });
}

void PulseStream::addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                                  std::shared_ptr<SerialQueue> queue) {
  if (started_) throw pulseError(PA_ERR_BADSTATE);
  recording_->outputs().add(outputType, std::move(output), std::move(queue));
}

void PulseStream::startCapture() {
  started_ = true;
  std::exception_ptr failure;
  worker_->sync([&] {
    try {
      recording_->start();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);
}

void PulseStream::stopCapture() {
  worker_->sync([recording = recording_] { recording->stop(); });
}

std::int64_t PulseStream::framesRead(int outputType) const {
  return recording_->framesRead(outputType);
}

}  // namespace mirevo::platform::pulse
