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

// The recorders hand over nothing but their own buffers.
std::shared_ptr<const PulseSampleBuffer> asPulseBuffer(std::shared_ptr<const SampleBuffer> buffer) {
  return std::static_pointer_cast<const PulseSampleBuffer>(std::move(buffer));
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
    // The other outputs that play already join at once.
    if (RecordedSource* system = systemSource()) {
      followSystem(*system, serverDevices(*connection_), false);
    }
  } catch (...) {
    release();
    throw;
  }
}

void ServerRecording::addSources(double startSeconds) {
  startSeconds_ = startSeconds;
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
    AudioFormat format;
    format.sampleRate = configuration_.sampleRate;
    format.channelCount = static_cast<std::uint32_t>(configuration_.channelCount);
    format.interleaved = true;
    format.sampleType = SampleType::float32;
    mix_ = std::make_unique<SystemMix>(format, [this](std::shared_ptr<const SampleBuffer> buffer) {
      outputs_.deliver(kOutputTypeAudio, std::move(buffer));
    });
    settings.outputType = kOutputTypeAudio;
    settings.rule = SourceRule::defaultOutput;
    settings.named.clear();
    sources_.push_back(std::make_unique<RecordedSource>(
        settings, clock_,
        [this](std::shared_ptr<const SampleBuffer> buffer) {
          mix_->add(SystemMix::kDefaultInput, asPulseBuffer(std::move(buffer)));
        },
        [this](int type, int code) { sourceEnded(type, code); }));
    sources_.back()->record(*connection_, filter_.display.audioSource);
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
    forEachSource([](RecordedSource& source) { source.finish(); });
    if (mix_) mix_->flush();
    state_ = State::ended;
    linger_.reset();
    forEachSource([](RecordedSource& source) {
      if (source.recorder() != nullptr) source.recorder()->disconnect();
    });
    try {
      connection_->waitUntil(
          [this] {
            bool allEnded = true;
            forEachSource([&](RecordedSource& source) {
              allEnded = allEnded && (source.recorder() == nullptr || source.recorder()->ended());
            });
            return allEnded;
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
  linger_.reset();
  if (!connection_) return;
  {
    PulseConnection::Lock lock(*connection_);
    forEachSource([](RecordedSource& source) { source.drop(); });
    joined_.clear();
  }
  connection_.reset();
}

void ServerRecording::retire() {
  if (!connection_) return;
  {
    PulseConnection::Lock lock(*connection_);
    // The outputs that play on the server that answers join again.
    leaveAll();
    for (const auto& source : sources_) source->retire();
    if (mix_) mix_->flush();
  }
  connection_.reset();
}

template <class Action>
void ServerRecording::forEachSource(Action action) {
  for (const auto& source : sources_) action(*source);
  for (auto& [monitor, joined] : joined_) action(*joined.source);
}

RecordedSource* ServerRecording::systemSource() const {
  for (const auto& source : sources_) {
    if (source->rule() == SourceRule::defaultOutput) return source.get();
  }
  return nullptr;
}

std::int64_t ServerRecording::framesRead(int outputType) const {
  for (const auto& source : sources_) {
    if (source->outputType() == outputType) return source->framesRead();
  }
  return 0;
}

void ServerRecording::connectionLost(std::uint64_t generation, int code) {
  // What libpulse has received is read and handed over before anything else.
  forEachSource([](RecordedSource& source) { source.finish(); });
  if (mix_) mix_->flush();
  post([generation, code](ServerRecording& self) { self.lost(generation, code); });
}

void ServerRecording::serverChanged(pa_subscription_event_type_t event) {
  if (!changesDevices(event) || followPosted_.exchange(true)) return;
  post([](ServerRecording& self) {
    self.followPosted_ = false;
    self.follow();
  });
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
    if (source->rule() == SourceRule::defaultOutput) {
      followSystem(*source, devices, true);
      continue;
    }
    // A named source is only looked for again after a reconnection: while its
    // recorder lives, the end of its stream tells that it went.
    if (source->rule() == SourceRule::named && source->recorder() != nullptr) continue;
    if (!source->follow(*connection_, devices) && source->rule() == SourceRule::named) {
      complete = false;
    }
  }
  return complete;
}

void ServerRecording::followSystem(RecordedSource& system, const ServerDevices& devices,
                                   bool followDefault) {
  const double now = clock_.hostSeconds();
  const auto defaultMonitor =
      followDefault ? chooseSource(SourceRule::defaultOutput, "", devices) : system.source();
  const auto playing = mixedMonitors(devices);
  const auto listed = [&](const std::string& monitor) {
    return std::any_of(devices.sources.begin(), devices.sources.end(),
                       [&](const SourceInfo& source) { return source.name == monitor; });
  };
  // Those that leave go first: a sink that became the default output is
  // recorded on from where its joined recorder ended.
  bool lingering = false;
  for (auto joined = joined_.begin(); joined != joined_.end();) {
    const std::string& monitor = joined->first;
    const bool plays = std::find(playing.begin(), playing.end(), monitor) != playing.end();
    if (plays) joined->second.lastPlayedSeconds = now;
    const SourceRecorder* recorder = joined->second.source->recorder();
    const bool gone =
        monitor == defaultMonitor || !listed(monitor) || recorder == nullptr || recorder->ended();
    if (gone || (!plays && now - joined->second.lastPlayedSeconds >= kLingerSeconds)) {
      leave(joined++);
      continue;
    }
    lingering = lingering || !plays;
    ++joined;
  }
  const std::string before = system.source();
  if (followDefault) {
    if (defaultMonitor) {
      if (const auto end = monitorEnds_.find(*defaultMonitor); end != monitorEnds_.end()) {
        system.raiseFloor(end->second);
      }
    }
    system.follow(*connection_, devices);
    if (!before.empty() && system.source() != before) {
      monitorEnds_[before] = std::max(monitorEnds_[before], system.floorSeconds());
    }
  }
  for (const std::string& monitor : playing) {
    if (monitor != system.source() && joined_.count(monitor) == 0) join(monitor, now);
  }
  if (!lingering) {
    linger_.reset();
  } else if (!linger_) {
    linger_ = worker_->makeTimer(kLingerCheckSeconds, [weak = weak_from_this()] {
      if (const auto self = weak.lock()) self->follow();
    });
    linger_->resume();
  }
}

void ServerRecording::join(const std::string& monitor, double nowSeconds) {
  RecordedSource::Settings settings;
  settings.outputType = kOutputTypeAudio;
  settings.rule = SourceRule::named;
  settings.named = monitor;
  settings.sampleRate = configuration_.sampleRate;
  settings.channelCount = configuration_.channelCount;
  settings.startSeconds = startSeconds_;
  if (const auto end = monitorEnds_.find(monitor); end != monitorEnds_.end()) {
    settings.startSeconds = std::max(settings.startSeconds, end->second);
  }
  const int input = nextInput_++;
  auto source = std::make_unique<RecordedSource>(
      settings, clock_,
      [this, input](std::shared_ptr<const SampleBuffer> buffer) {
        mix_->add(input, asPulseBuffer(std::move(buffer)));
      },
      // A joined output whose stream ended has left; the next look says so.
      [this](int, int) { post([](ServerRecording& self) { self.follow(); }); });
  try {
    source->record(*connection_, monitor);
  } catch (const Error&) {
    return;  // gone meanwhile
  }
  source->recorder()->startDelivering();
  mix_->open(input, nowSeconds);
  joined_[monitor] = JoinedOutput{std::move(source), input, nowSeconds};
}

void ServerRecording::leave(std::map<std::string, JoinedOutput>::iterator joined) {
  RecordedSource& source = *joined->second.source;
  source.retire();
  double& end = monitorEnds_[joined->first];
  end = std::max(end, source.floorSeconds());
  mix_->close(joined->second.input);
  joined_.erase(joined);
}

void ServerRecording::leaveAll() {
  while (!joined_.empty()) leave(joined_.begin());
  linger_.reset();
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
      complete = followAll();
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
    forEachSource([](RecordedSource& source) { source.handOverRead(); });
    if (mix_) mix_->flush();
  }
  // The delegate may let go of the stream here, and with it of this object's
  // connection: nothing is touched afterwards.
  if (delegate_) delegate_->didStopWithError(pulseError(code));
}

}  // namespace mirevo::platform::pulse
