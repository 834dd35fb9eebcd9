#include <exception>

#include "capture/Capture.hpp"
#include "events/Output.hpp"
#include "platform/Error.hpp"

namespace mirevo {

void Capture::didOutputSampleBuffer(const platform::SampleBuffer& buffer, int outputType) {
  // A stopped session does no work at all per buffer.
  if (stopped_) return;
  audio::AudioChunks* destination = nullptr;
  if (outputType == platform::kOutputTypeMicrophone) destination = microphone_.get();
  if (outputType == platform::kOutputTypeAudio) destination = system_.get();
  if (destination == nullptr) return;
  try {
    destination->append(buffer);
  } catch (const platform::Error& error) {
    fail(error);
  } catch (const std::exception& error) {
    // Anything else (memory running out) ends the recording the same way
    // rather than the process.
    fail(platform::Error("MirevoCapture", 0, error.what()));
  }
}

void Capture::didStopWithError(const platform::Error& error) {
  // Not on the queue: touch nothing here. The queued work keeps the session
  // alive until it has run after everything queued before it.
  queue_->async([session = shared_from_this(), error] { session->fail(error); });
}

void Capture::fail(const platform::Error& error) {
  if (stopped_) return;
  stopped_ = true;
  if (timer_) timer_->cancel();
  // The audio gathered so far goes out before the failure, microphone first.
  if (microphone_) microphone_->flush();
  if (system_) system_->flush();
  Output::failure(error.localizedDescription(), session_);
}

}  // namespace mirevo
