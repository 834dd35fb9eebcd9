#include "platform/pulse/ServerRecording.hpp"

#include <pulse/error.h>

#include <algorithm>

#include "platform/pulse/PulseError.hpp"
#include "platform/pulse/PulseQueries.hpp"

namespace mirevo::platform::pulse {
namespace {

constexpr const char* kClientName = "Mirevo Capture";

constexpr auto kWatched = static_cast<pa_subscription_mask_t>(
    PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE);

// A change of the defaults (the server's own events), or a sink or source
// that came or went; a device that merely changed its state (as each one
// does when a stream starts on it) chooses nothing new.
bool changesDevices(pa_subscription_event_type_t event) {
  const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  return facility == PA_SUBSCRIPTION_EVENT_SERVER || type != PA_SUBSCRIPTION_EVENT_CHANGE;
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
      for (const auto& source : sources_) {
        const SourceRecorder* recorder = source->recorder();
        if (recorder == nullptr) continue;
        if (recorder->ended()) return true;
        allReady = allReady && recorder->ready();
      }
      return allReady;
    });
    for (const auto& source : sources_) {
      const SourceRecorder* recorder = source->recorder();
      if (recorder != nullptr && recorder->ended()) throw pulseError(recorder->errorCode());
    }
    state_ = State::running;
    for (const auto& source : sources_) {
      if (source->recorder() != nullptr) source->recorder()->startDelivering();
    }
  } catch (...) {
    release();
    throw;
  }
}

void ServerRecording::addSources(double startSeconds) {
  RecordedSource::Settings settings;
  settings.sampleRate = configuration_.sampleRate;
  settings.channelCount = configuration_.channelCount;
  settings.startSeconds = startSeconds;
  const auto add = [&](int outputType, SourceRule rule, const std::string& named) {
    settings.outputType = outputType;
    settings.rule = rule;
    settings.named = named;
    sources_.push_back(std::make_unique<RecordedSource>(
        settings, clock_,
        [this, outputType](std::shared_ptr<const SampleBuffer> buffer) {
          outputs_.deliver(outputType, std::move(buffer));
        },
        [this](int type, int code) { sourceEnded(type, code); }));
    return sources_.back().get();
  };
  if (configuration_.capturesAudio && outputs_.has(kOutputTypeAudio)) {
    add(kOutputTypeAudio, SourceRule::defaultOutput, "")
        ->record(*connection_, filter_.display.audioSource);
  }
  if (configuration_.captureMicrophone && outputs_.has(kOutputTypeMicrophone)) {
    const auto& named = configuration_.microphoneCaptureDeviceID;
    const SourceRule rule = named ? SourceRule::named : SourceRule::defaultMicrophone;
    RecordedSource* microphone = add(kOutputTypeMicrophone, rule, named.value_or(""));
    // A named microphone that is missing fails the start with the server's
    // own text: it is asked for all the same.
    const auto chosen = named ? named : chooseSource(rule, "", serverDevices(*connection_));
    if (chosen) microphone->record(*connection_, *chosen);
  }
}

void ServerRecording::connect(double timeoutSeconds) {
  auto connection = std::make_unique<PulseConnection>(kClientName, timeoutSeconds);
  const std::uint64_t generation = ++generation_;
  PulseConnection::Lock lock(*connection);
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
    for (const auto& source : sources_) source->finish();
    state_ = State::ended;
    for (const auto& source : sources_) {
      if (source->recorder() != nullptr) source->recorder()->disconnect();
    }
    try {
      connection_->waitUntil(
          [this] {
            return std::all_of(sources_.begin(), sources_.end(), [](const auto& source) {
              return source->recorder() == nullptr || source->recorder()->ended();
            });
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
  if (!connection_) return;
  {
    PulseConnection::Lock lock(*connection_);
    for (const auto& source : sources_) source->drop();
  }
  connection_.reset();
}

void ServerRecording::retire() {
  if (!connection_) return;
  {
    PulseConnection::Lock lock(*connection_);
    for (const auto& source : sources_) source->retire();
  }
  connection_.reset();
}

std::int64_t ServerRecording::framesRead(int outputType) const {
  for (const auto& source : sources_) {
    if (source->outputType() == outputType) return source->framesRead();
  }
  return 0;
}

void ServerRecording::connectionLost(std::uint64_t generation, int code) {
  // What libpulse has received is read and handed over before anything else.
  for (const auto& source : sources_) source->finish();
  post([generation, code](ServerRecording& self) { self.lost(generation, code); });
}

void ServerRecording::serverChanged(pa_subscription_event_type_t event) {
  if (changesDevices(event)) post([](ServerRecording& self) { self.follow(); });
}

void ServerRecording::sourceEnded(int outputType, int code) {
  post([outputType, code](ServerRecording& self) {
    const bool named =
        std::any_of(self.sources_.begin(), self.sources_.end(), [&](const auto& source) {
          return source->outputType() == outputType && source->rule() == SourceRule::named;
        });
    if (named) {
      self.report(code);
    } else {
      self.follow();
    }
  });
}

void ServerRecording::follow() {
  if (state_ != State::running || !connection_) return;
  try {
    PulseConnection::Lock lock(*connection_);
    followAll();
  } catch (const Error&) {
    // The connection went meanwhile; its loss is on its way.
  }
}

bool ServerRecording::followAll() {
  const ServerDevices devices = serverDevices(*connection_);
  bool complete = true;
  for (const auto& source : sources_) {
    // A named source is only looked for again after a reconnection: while its
    // recorder lives, the end of its stream tells that it went.
    if (source->rule() == SourceRule::named && source->recorder() != nullptr) continue;
    if (!source->follow(*connection_, devices) && source->rule() == SourceRule::named) {
      complete = false;
    }
  }
  return complete;
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
      connect(std::min(left, kAttemptSeconds));
    } catch (const Error&) {
      // Not back yet.
    }
  }
  bool complete = false;
  if (connection_) {
    try {
      PulseConnection::Lock lock(*connection_);
      complete = followAll();
    } catch (const Error&) {
      // Lost again; that loss is on its way.
    }
  }
  if (complete) {
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
    for (const auto& source : sources_) source->handOverRead();
  }
  // The delegate may let go of the stream here, and with it of this object's
  // connection: nothing is touched afterwards.
  if (delegate_) delegate_->didStopWithError(pulseError(code));
}

}  // namespace mirevo::platform::pulse
