// A scriptable capture service. The test decides the permission answer, the
// displays and which step fails (once or every time), and plays the platform's
// part on the live stream: delivering buffers onto the queue registered for
// their output type (only through that queue's async, as a platform thread
// would, through the StreamOutputs that the Linux backend uses too, with its
// budget for audio waiting on the queue) and reporting a stream error from a
// thread of its own. It records the
// made stream's configuration and filter and the order of calls.
//
// Threads: the CaptureService and Stream calls come from the session's
// caller; the test's script and platform-side calls from any thread. The
// service must outlive every stream it made.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/CaptureService.hpp"
#include "platform/StreamOutputs.hpp"
#include "platform/sim/SimCallLog.hpp"

namespace mirevo::platform::sim {

// The steps that can be scripted to fail.
enum class SimStep {
  shareableContent,
  addAudioOutput,       // addStreamOutput for output type 1
  addMicrophoneOutput,  // addStreamOutput for output type 2
  startCapture,
  stopCapture,
};

class SimCaptureService final : public CaptureService {
 public:
  explicit SimCaptureService(SimCallLog& calls);
  ~SimCaptureService() override;

  // --- Script ---
  void setMicrophoneAccess(bool granted);
  void setDisplays(std::vector<Display> displays);
  // The budget of audio waiting on the queues, for streams made from now on.
  void setBacklogBudget(std::size_t bytes);
  // The step throws `error`: the next time only, or every time until cleared.
  void failAt(SimStep step, Error error, bool everyTime = false);
  void clearFailure(SimStep step);
  // Runs `hook` on the caller's thread during the step: for startCapture once
  // capture runs, for stopCapture while capture still runs (so a test can
  // deliver buffers or report an error while a stop is in progress).
  void onStep(SimStep step, std::function<void()> hook);

  // --- What the core asked for ---
  int streamsMade() const;
  // Of the most recently made stream.
  std::optional<StreamConfiguration> configuration() const;
  std::optional<ContentFilter> filter() const;
  // Whether the most recent stream has not been torn down, and whether it
  // captures.
  bool streamAlive() const;
  bool capturing() const;
  // The output types registered on the most recent live stream.
  std::vector<int> registeredOutputTypes() const;

  // --- The platform's side of the most recent live stream ---
  // Submits the buffer to the queue registered for `outputType`, tagged with
  // that type. False when the stream is gone, not capturing, or has no such
  // output, and when the buffer is dropped because the budget is full.
  bool deliver(int outputType, std::shared_ptr<const SampleBuffer> buffer);
  // Submits the buffer through the output and queue registered for
  // `registeredType`, tagged as `reportedType` (a type the core never asked
  // for, as a misbehaving platform might send).
  bool deliverTagged(int registeredType, int reportedType,
                     std::shared_ptr<const SampleBuffer> buffer);
  // Bytes of audio delivered and not yet through their output.
  std::size_t backlogBytes() const;
  // Tells the stream's delegate that the stream stopped with `error`, from a
  // thread that is neither the caller's nor the session queue's; returns once
  // that thread has returned. False when there is no live stream.
  bool reportStreamError(const Error& error);

  // --- CaptureService ---
  bool requestMicrophoneAccess() override;
  ShareableContent shareableContent() override;
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter,
                                     const StreamConfiguration& configuration,
                                     std::shared_ptr<StreamDelegate> delegate) override;

  struct StreamState;  // shared between a stream and the service

  // Used by the streams this service makes.
  void runStep(SimStep step);
  void runHook(SimStep step);
  SimCallLog& calls() { return calls_; }

 private:
  std::shared_ptr<StreamState> liveStream() const;

  SimCallLog& calls_;
  mutable std::mutex mutex_;
  bool microphoneAccess_ = true;
  std::vector<Display> displays_;
  std::size_t backlogBudgetBytes_ = StreamOutputs::kDefaultBudgetBytes;
  struct Failure {
    Error error;
    bool everyTime;
  };
  std::map<SimStep, Failure> failures_;
  std::map<SimStep, std::function<void()>> hooks_;
  int streamsMade_ = 0;
  std::optional<StreamConfiguration> configuration_;
  std::optional<ContentFilter> filter_;
  std::weak_ptr<StreamState> stream_;
};

}  // namespace mirevo::platform::sim
