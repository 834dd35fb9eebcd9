#include "platform/mac/StreamControl.hpp"

#include <utility>

namespace mirevo::platform::mac {

StreamControl::StreamControl(std::shared_ptr<StreamLink> link, SystemStream& stream,
                             CompletionFactory makeCompletion)
    : link_(std::move(link)), stream_(stream), makeCompletion_(std::move(makeCompletion)) {}

void StreamControl::start() {
  const auto answer = std::make_shared<DoneAnswer>(makeCompletion_());
  const std::weak_ptr<StreamLink> weakLink = link_;
  stream_.requestStart([answer, weakLink](std::optional<Error> error) {
    // Marked here, before the first buffer can arrive on the queue.
    const auto link = weakLink.lock();
    // Given up meanwhile: nobody will stop this capture but its answer.
    const bool stopAgain = !error && link && !link->gate().markStarted();
    answer->answer(Done{}, std::move(error));
    return stopAgain;
  });
  if (answer->arrived(kCaptureTimeoutSeconds)) {
    answer->throwError();
    return;
  }
  // Unless it succeeded at the last moment.
  if (link_->gate().giveUpStart()) {
    throw timeoutError("Starting the capture", kCaptureTimeoutSeconds);
  }
}

void StreamControl::stop() {
  StreamGate& gate = link_->gate();
  if (gate.givenUp()) {
    // A start that may have succeeded after all: stop it, whatever it says.
    try {
      awaitStop();
    } catch (const Error&) {
    }
    gate.markStopped();
    return;
  }
  if (!gate.running()) return;
  gate.markStopping();
  try {
    awaitStop();
  } catch (const Error&) {
    // After a reported stop the system has nothing more to stop.
    if (!gate.stopReported()) throw;
  }
  gate.markStopped();
}

void StreamControl::awaitStop() {
  const auto answer = std::make_shared<DoneAnswer>(makeCompletion_());
  stream_.requestStop(
      [answer](std::optional<Error> error) { answer->answer(Done{}, std::move(error)); });
  answer->await("Stopping the capture", kCaptureTimeoutSeconds);
}

void StreamControl::teardown() {
  link_->close();
  const StreamGate& gate = link_->gate();
  if (gate.running() || gate.givenUp()) stream_.requestStop(nullptr);
  for (const int type : link_->outputTypes()) stream_.removeOutput(type);
}

}  // namespace mirevo::platform::mac
