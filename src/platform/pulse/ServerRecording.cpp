#include "platform/pulse/ServerRecording.hpp"

#include <pulse/error.h>

#include <algorithm>
#include <limits>

#include "platform/pulse/PulseError.hpp"
#include "platform/pulse/PulseQueries.hpp"

namespace mirevo::platform::pulse {
namespace {

constexpr const char* kClientName = "Mirevo Capture";

constexpr auto kWatched = static_cast<pa_subscription_mask_t>(
    PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
    PA_SUBSCRIPTION_MASK_SINK_INPUT);

// A change of the defaults (the server's own events), a sink or source that
// came or went, or any change of an application's stream (it started,
// ended, was paused or moved to another sink); a device that merely changed
// its state (as each one does when a stream starts on it) chooses nothing
// new.
bool changesDevices(pa_subscription_event_type_t event) {
  const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  return facility == PA_SUBSCRIPTION_EVENT_SERVER || facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT ||
         type != PA_SUBSCRIPTION_EVENT_CHANGE;
}

}  // namespace

ServerRecording::ServerRecording(const ContentFilter& filter,
                                 const StreamConfiguration& configuration,
                                 std::shared_ptr<StreamDelegate> delegate, const Clock& clock,
                                 std::shared_ptr<SerialQueue> worker)
    : filter_(filter),
      configuration_(configuration),
      delegate_(std::move(delegate)),
      clock_(clock),
      worker_(std::move(worker)) {}

ServerRecording::~ServerRecording() {
  release();
}

void ServerRecording::post(std::function<void(ServerRecording&)> task) {
  worker_->async([weak = weak_from_this(), task = std::move(task)] {
    if (const auto self = weak.lock()) task(*self);
  });
}

void ServerRecording::start() {
  if (state_ != State::idle) return;
  // Audio captured before this moment was never part of the recording.
  const double startSeconds = clock_.hostSeconds();
  try {
    connect(PulseConnection::kTimeoutSeconds);
    PulseConnection::Lock lock(*connection_);
    addSources(startSeconds);
    connection_->waitUntil([this] {
      bool allReady = true;
      bool anyEnded = false;
      forEachOwnSource([&](const ChosenSource& source) {
        const RecordStream* stream = source.stream();
        if (stream == nullptr || anyEnded) return;
        anyEnded = stream->ended();
        allReady = allReady && stream->ready();
      });
      return anyEnded || allReady;
    });
    forEachOwnSource([](const ChosenSource& source) {
      const RecordStream* stream = source.stream();
      if (stream != nullptr && stream->ended()) throw pulseError(stream->errorCode());
    });
    state_ = State::running;
    forEachOwnSource([](ChosenSource& source) {
      if (source.stream() != nullptr) source.stream()->startDelivering();
    });
    // The other outputs that play already join at once.
    if (system_) system_->applyRules(*connection_, serverDevices(*connection_), false);
  } catch (...) {
    release();
    throw;
  }
}

void ServerRecording::addSources(double startSeconds) {
  ChosenSource::Settings settings;
  settings.sampleRate = configuration_.sampleRate;
  settings.channelCount = configuration_.channelCount;
  settings.startSeconds = startSeconds;
  const auto ended = [this](int type, int code) { sourceEnded(type, code); };
  if (configuration_.capturesAudio && outputs_.has(kOutputTypeAudio)) {
    settings.outputType = kOutputTypeAudio;
    settings.rule = SourceRule::defaultOutput;
    system_ = std::make_unique<SystemAudio>(
        settings, clock_, worker_,
        [this](std::shared_ptr<const SampleBuffer> buffer) {
          outputs_.deliver(kOutputTypeAudio, std::move(buffer));
        },
        ended,
        [weak = weak_from_this()] {
          if (const auto self = weak.lock()) self->applyRules();
        });
    system_->defaultOutput().record(*connection_, filter_.display.audioSource);
  }
  if (configuration_.captureMicrophone && outputs_.has(kOutputTypeMicrophone)) {
    const auto& named = configuration_.microphoneCaptureDeviceID;
    settings.outputType = kOutputTypeMicrophone;
    settings.rule = named ? SourceRule::named : SourceRule::defaultMicrophone;
    settings.named = named.value_or("");
    microphone_ = std::make_unique<ChosenSource>(
        settings, clock_,
        [this](std::shared_ptr<const SampleBuffer> buffer) {
          outputs_.deliver(kOutputTypeMicrophone, std::move(buffer));
        },
        ended);
    // A named microphone that is missing fails the start with the server's
    // own text: it is asked for all the same.
    const auto chosen =
        named ? named : chooseSource(settings.rule, "", serverDevices(*connection_));
    if (chosen) microphone_->record(*connection_, *chosen);
  }
}

void ServerRecording::connect(double timeoutSeconds, double waitsEndSeconds) {
  auto connection = std::make_unique<PulseConnection>(kClientName, timeoutSeconds);
  const std::uint64_t generation = ++generation_;
  PulseConnection::Lock lock(*connection);
  connection->endWaitsIn(waitsEndSeconds);
  connection->onFailure([this, generation](int code) { connectionLost(generation, code); });
  connection->subscribe(kWatched, [this](pa_subscription_event_type_t event, std::uint32_t) {
    serverChanged(event);
  });
  connection_ = std::move(connection);
}

void ServerRecording::stop() {
  if (connection_) {
    PulseConnection::Lock lock(*connection_);
    try {
      connection_->catchUp(kCatchUpSeconds);
    } catch (const Error&) {
      // Gone or stalled: what arrived is all there is.
    }
    if (system_) system_->finish();
    if (microphone_) microphone_->finish();
    state_ = State::ended;
    if (system_) system_->stopLingering();
    if (system_) system_->disconnect();
    if (microphone_ && microphone_->stream() != nullptr) microphone_->stream()->disconnect();
    try {
      connection_->waitUntil(
          [this] {
            const RecordStream* microphone = microphone_ ? microphone_->stream() : nullptr;
            return (!system_ || system_->ended()) && (microphone == nullptr || microphone->ended());
          },
          kStopTimeoutSeconds);
    } catch (const Error&) {
      // A server that is gone or stalled has nothing more to end.
    }
  }
  release();
}

void ServerRecording::release() {
  state_ = State::ended;
  retry_.reset();
  if (system_) system_->stopLingering();
  if (!connection_) return;
  {
    PulseConnection::Lock lock(*connection_);
    if (system_) system_->release();
    if (microphone_) microphone_->release();
  }
  connection_.reset();
}

void ServerRecording::retire() {
  if (!connection_) return;
  {
    PulseConnection::Lock lock(*connection_);
    // The outputs that play on the server that answers join again.
    if (system_) system_->retire();
    if (microphone_) microphone_->retire();
  }
  connection_.reset();
}

template <class Action>
void ServerRecording::forEachOwnSource(Action action) {
  if (system_) action(system_->defaultOutput());
  if (microphone_) action(*microphone_);
}

std::int64_t ServerRecording::framesRead(int outputType) const {
  if (system_ && outputType == kOutputTypeAudio) return system_->framesRead();
  if (microphone_ && outputType == kOutputTypeMicrophone) return microphone_->framesRead();
  return 0;
}

void ServerRecording::connectionLost(std::uint64_t generation, int code) {
  // What libpulse has received is read and handed over before anything else.
  if (system_) system_->finish();
  if (microphone_) microphone_->finish();
  post([generation, code](ServerRecording& self) { self.lost(generation, code); });
}

void ServerRecording::serverChanged(pa_subscription_event_type_t event) {
  if (!changesDevices(event) || rulesPosted_.exchange(true)) return;
  post([](ServerRecording& self) {
    self.rulesPosted_ = false;
    self.applyRules();
  });
}

void ServerRecording::sourceEnded(int outputType, int code) {
  post([outputType, code](ServerRecording& self) {
    const ChosenSource* microphone = self.microphone_.get();
    const bool named = microphone != nullptr && microphone->outputType() == outputType &&
                       microphone->rule() == SourceRule::named;
    if (named) {
      self.report(code);
    } else {
      self.applyRules();
    }
  });
}

void ServerRecording::applyRules() {
  if (state_ != State::running || !connection_) return;
  try {
    PulseConnection::Lock lock(*connection_);
    applyAllRules();
  } catch (const Error&) {
    // The connection went meanwhile; its loss is on its way.
  }
}

bool ServerRecording::applyAllRules() {
  const ServerDevices devices = serverDevices(*connection_);
  if (system_) system_->applyRules(*connection_, devices, true);
  if (!microphone_) return true;
  // A named source is only looked for again after a reconnection: while its
  // record stream lives, its end tells that it went.
  if (microphone_->rule() == SourceRule::named && microphone_->stream() != nullptr) return true;
  return microphone_->recordChosen(*connection_, devices) ||
         microphone_->rule() != SourceRule::named;
}

void ServerRecording::lost(std::uint64_t generation, int code) {
  if (state_ != State::running || generation != generation_) return;
  retire();
  if (retry_) return;  // still within the window of an earlier loss
  lostCode_ = code;
  retryUntil_ = clock_.hostSeconds() + kReconnectSeconds;
  retry_ = worker_->makeTimer(kRetrySeconds, [weak = weak_from_this()] {
    if (const auto self = weak.lock()) self->retry();
  });
  retry_->resume();
}

void ServerRecording::retry() {
  if (state_ != State::running) return;
  const double left = retryUntil_ - clock_.hostSeconds();
  if (!connection_ && left > 0.0) {
    try {
      connect(std::min(left, kAttemptSeconds), left);
    } catch (const Error&) {
      // Not back yet.
    }
  }
  bool complete = false;
  if (connection_) {
    try {
      PulseConnection::Lock lock(*connection_);
      complete = applyAllRules();
    } catch (const Error&) {
      // Lost again; that loss is on its way.
    }
  }
  if (complete) {
    PulseConnection::Lock lock(*connection_);
    connection_->endWaitsIn(std::numeric_limits<double>::infinity());
    retry_.reset();
    return;
  }
  if (left > 0.0) return;
  retry_.reset();
  // A server that answered without the named microphone is missing that.
  report(connection_ ? PA_ERR_NOENTITY : lostCode_);
}

void ServerRecording::report(int code) {
  if (state_ != State::running || reported_) return;
  reported_ = true;
  if (connection_) {
    PulseConnection::Lock lock(*connection_);
    if (system_) system_->handOverRead();
    if (microphone_) microphone_->handOverRead();
  }
  // The delegate may let go of the stream here, and with it of this object's
  // connection: nothing is touched afterwards.
  if (delegate_) delegate_->didStopWithError(pulseError(code));
}

}  // namespace mirevo::platform::pulse
