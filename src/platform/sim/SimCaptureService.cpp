#include "platform/sim/SimCaptureService.hpp"

#include <string>
#include <thread>
#include <utility>

namespace mirevo::platform::sim {

struct SimCaptureService::StreamState {
  explicit StreamState(std::size_t backlogBudgetBytes) : outputs(backlogBudgetBytes) {}

  std::mutex mutex;
  bool alive = true;
  bool capturing = false;
  std::shared_ptr<StreamDelegate> delegate;
  StreamOutputs outputs;
};

namespace {

class SimStream final : public Stream {
 public:
  SimStream(SimCaptureService& service, std::shared_ptr<SimCaptureService::StreamState> state)
      : service_(service), state_(std::move(state)) {}

  // Fenced: once this returns, nothing is submitted for this stream, no output
  // is called (not even for buffers already queued) and its delegate is not
  // told anything more.
  ~SimStream() override {
    service_.calls().record("destroyStream");
    std::shared_ptr<StreamDelegate> delegate;
    {
      std::lock_guard lock(state_->mutex);
      state_->alive = false;
      state_->capturing = false;
      delegate.swap(state_->delegate);
    }
    state_->outputs.close();
  }

  void addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                       std::shared_ptr<SerialQueue> queue) override {
    service_.calls().record("addStreamOutput " + std::to_string(outputType));
    if (outputType == kOutputTypeAudio) service_.runStep(SimStep::addAudioOutput);
    if (outputType == kOutputTypeMicrophone) service_.runStep(SimStep::addMicrophoneOutput);
    std::lock_guard lock(state_->mutex);
    state_->outputs.add(outputType, std::move(output), std::move(queue));
  }

  void startCapture() override {
    service_.calls().record("startCapture");
    service_.runStep(SimStep::startCapture);
    {
      std::lock_guard lock(state_->mutex);
      state_->capturing = true;
    }
    service_.runHook(SimStep::startCapture);
  }

  void stopCapture() override {
    service_.calls().record("stopCapture");
    service_.runHook(SimStep::stopCapture);
    service_.runStep(SimStep::stopCapture);
    std::lock_guard lock(state_->mutex);
    state_->capturing = false;
  }

 private:
  SimCaptureService& service_;
  std::shared_ptr<SimCaptureService::StreamState> state_;
};

}  // namespace

SimCaptureService::SimCaptureService(SimCallLog& calls) : calls_(calls) {
  displays_.push_back({"sim-display-0", "Simulated Display", "sim-display-0.monitor"});
}

SimCaptureService::~SimCaptureService() = default;

void SimCaptureService::setMicrophoneAccess(bool granted) {
  std::lock_guard lock(mutex_);
  microphoneAccess_ = granted;
}

void SimCaptureService::setDisplays(std::vector<Display> displays) {
  std::lock_guard lock(mutex_);
  displays_ = std::move(displays);
}

void SimCaptureService::setBacklogBudget(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  backlogBudgetBytes_ = bytes;
}

void SimCaptureService::failAt(SimStep step, Error error, bool everyTime) {
  std::lock_guard lock(mutex_);
  failures_.insert_or_assign(step, Failure{std::move(error), everyTime});
}

void SimCaptureService::clearFailure(SimStep step) {
  std::lock_guard lock(mutex_);
  failures_.erase(step);
}

void SimCaptureService::onStep(SimStep step, std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  hooks_[step] = std::move(hook);
}

int SimCaptureService::streamsMade() const {
  std::lock_guard lock(mutex_);
  return streamsMade_;
}

std::optional<StreamConfiguration> SimCaptureService::configuration() const {
  std::lock_guard lock(mutex_);
  return configuration_;
}

std::optional<ContentFilter> SimCaptureService::filter() const {
  std::lock_guard lock(mutex_);
  return filter_;
}

bool SimCaptureService::streamAlive() const {
  const auto state = liveStream();
  if (!state) return false;
  std::lock_guard lock(state->mutex);
  return state->alive;
}

bool SimCaptureService::capturing() const {
  const auto state = liveStream();
  if (!state) return false;
  std::lock_guard lock(state->mutex);
  return state->capturing;
}

std::vector<int> SimCaptureService::registeredOutputTypes() const {
  const auto state = liveStream();
  if (!state) return {};
  std::lock_guard lock(state->mutex);
  return state->outputs.types();
}

bool SimCaptureService::deliver(int outputType, std::shared_ptr<const SampleBuffer> buffer) {
  return deliverTagged(outputType, outputType, std::move(buffer));
}

bool SimCaptureService::deliverTagged(int registeredType, int reportedType,
                                      std::shared_ptr<const SampleBuffer> buffer) {
  const auto state = liveStream();
  if (!state) return false;
  // Submitted under the stream's lock, so a stream being destroyed cannot
  // return from its destructor and still have work submitted afterwards.
  std::lock_guard lock(state->mutex);
  if (!state->alive || !state->capturing) return false;
  return state->outputs.deliver(registeredType, std::move(buffer), reportedType);
}

std::size_t SimCaptureService::backlogBytes() const {
  const auto state = liveStream();
  if (!state) return 0;
  std::lock_guard lock(state->mutex);
  return state->outputs.backlogBytes();
}

bool SimCaptureService::reportStreamError(const Error& error) {
  const auto state = liveStream();
  if (!state) return false;
  std::shared_ptr<StreamDelegate> delegate;
  {
    std::lock_guard lock(state->mutex);
    if (!state->alive) return false;
    delegate = state->delegate;
  }
  if (!delegate) return false;
  std::thread platformThread([delegate, error] { delegate->didStopWithError(error); });
  platformThread.join();
  return true;
}

bool SimCaptureService::requestMicrophoneAccess() {
  calls_.record("requestMicrophoneAccess");
  std::lock_guard lock(mutex_);
  return microphoneAccess_;
}

ShareableContent SimCaptureService::shareableContent() {
  calls_.record("shareableContent");
  runStep(SimStep::shareableContent);
  std::lock_guard lock(mutex_);
  return ShareableContent{displays_};
}

std::unique_ptr<Stream> SimCaptureService::makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      std::shared_ptr<StreamDelegate> delegate) {
  calls_.record("makeStream");
  std::lock_guard lock(mutex_);
  auto state = std::make_shared<StreamState>(backlogBudgetBytes_);
  state->delegate = std::move(delegate);
  ++streamsMade_;
  configuration_ = configuration;
  filter_ = filter;
  stream_ = state;
  return std::make_unique<SimStream>(*this, std::move(state));
}

void SimCaptureService::runStep(SimStep step) {
  std::unique_lock lock(mutex_);
  const auto found = failures_.find(step);
  if (found == failures_.end()) return;
  Error error = found->second.error;
  if (!found->second.everyTime) failures_.erase(found);
  lock.unlock();
  throw error;
}

void SimCaptureService::runHook(SimStep step) {
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    const auto found = hooks_.find(step);
    if (found != hooks_.end()) hook = found->second;
  }
  if (hook) hook();
}

std::shared_ptr<SimCaptureService::StreamState> SimCaptureService::liveStream() const {
  std::lock_guard lock(mutex_);
  auto state = stream_.lock();
  return state;
}

}  // namespace mirevo::platform::sim
