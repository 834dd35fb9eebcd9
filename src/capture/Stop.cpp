#include "capture/Capture.hpp"
#include "events/Output.hpp"

namespace mirevo {

void Capture::stop() {
  // No heartbeat starts after this; the timer is kept, only cancelled.
  if (timer_) timer_->cancel();
  // A refused stop leaves everything else as it was: the next stop repeats
  // the whole sequence.
  if (stream_) stream_->stopCapture();
  // Behind everything already queued, so no delivered audio is lost.
  queue_->sync([this] { finishStop(); });
  stream_.reset();
}

void Capture::finishStop() {
  if (stopped_) return;
  stopped_ = true;
  if (microphone_) microphone_->flush();
  if (system_) system_->flush();
  Output::emit({{"type", "completed"}, {"sessionId", session_}});
}

}  // namespace mirevo
