#include "platform/pulse/SystemAudio.hpp"

#include <algorithm>

#include "platform/Error.hpp"

namespace mirevo::platform::pulse {
namespace {

AudioFormat mixFormat(const RecordedSource::Settings& settings) {
  AudioFormat format;
  format.sampleRate = settings.sampleRate;
  format.channelCount = static_cast<std::uint32_t>(settings.channelCount);
  format.interleaved = true;
  format.sampleType = SampleType::float32;
  return format;
}

// The recorders hand over nothing but their own buffers.
std::shared_ptr<const PulseSampleBuffer> asPulseBuffer(std::shared_ptr<const SampleBuffer> buffer) {
  return std::static_pointer_cast<const PulseSampleBuffer>(std::move(buffer));
}

RecordedSource::Settings defaultOutputSettings(RecordedSource::Settings settings) {
  settings.rule = SourceRule::defaultOutput;
  settings.named.clear();
  return settings;
}

}  // namespace

SystemAudio::SystemAudio(const RecordedSource::Settings& settings, const Clock& clock,
                         std::shared_ptr<SerialQueue> worker, SystemMix::HandOver handOver,
                         RecordedSource::Ended ended, std::function<void()> lookAgain)
    : settings_(settings),
      clock_(clock),
      worker_(std::move(worker)),
      ended_(std::move(ended)),
      lookAgain_(std::move(lookAgain)),
      mix_(mixFormat(settings), std::move(handOver)),
      defaultOutput_(
          defaultOutputSettings(settings), clock,
          [this](std::shared_ptr<const SampleBuffer> buffer) {
            mix_.add(SystemMix::kDefaultInput, asPulseBuffer(std::move(buffer)));
          },
          [this](int type, int code) { ended_(type, code); }) {}

template <class Action>
void SystemAudio::forEachSource(Action action) {
  action(defaultOutput_);
  for (auto& [monitor, joined] : joined_) action(*joined.source);
}

template <class Action>
void SystemAudio::forEachSource(Action action) const {
  action(defaultOutput_);
  for (const auto& [monitor, joined] : joined_) action(*joined.source);
}

void SystemAudio::handOverRead() {
  forEachSource([](RecordedSource& source) { source.handOverRead(); });
  mix_.flush();
}

void SystemAudio::finish() {
  forEachSource([](RecordedSource& source) { source.finish(); });
  mix_.flush();
}

void SystemAudio::disconnect() {
  forEachSource([](RecordedSource& source) {
    if (source.recorder() != nullptr) source.recorder()->disconnect();
  });
}

bool SystemAudio::ended() const {
  bool allEnded = true;
  forEachSource([&](const RecordedSource& source) {
    allEnded = allEnded && (source.recorder() == nullptr || source.recorder()->ended());
  });
  return allEnded;
}

void SystemAudio::retire() {
  leaveAll();
  defaultOutput_.retire();
  mix_.flush();
}

void SystemAudio::drop() {
  forEachSource([](RecordedSource& source) { source.drop(); });
  joined_.clear();
}

void SystemAudio::follow(PulseConnection& connection, const ServerDevices& devices,
                         bool followDefault) {
  RecordedSource& system = defaultOutput_;
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
    system.follow(connection, devices);
    if (!before.empty() && system.source() != before) {
      monitorEnds_[before] = std::max(monitorEnds_[before], system.floorSeconds());
    }
  }
  for (const std::string& monitor : playing) {
    if (monitor != system.source() && joined_.count(monitor) == 0) join(connection, monitor, now);
  }
  if (!lingering) {
    linger_.reset();
  } else if (!linger_) {
    linger_ = worker_->makeTimer(kLingerCheckSeconds, lookAgain_);
    linger_->resume();
  }
}

void SystemAudio::join(PulseConnection& connection, const std::string& monitor, double nowSeconds) {
  RecordedSource::Settings settings = settings_;
  settings.rule = SourceRule::named;
  settings.named = monitor;
  if (const auto end = monitorEnds_.find(monitor); end != monitorEnds_.end()) {
    settings.startSeconds = std::max(settings.startSeconds, end->second);
  }
  const int input = nextInput_++;
  auto source = std::make_unique<RecordedSource>(
      settings, clock_,
      [this, input](std::shared_ptr<const SampleBuffer> buffer) {
        mix_.add(input, asPulseBuffer(std::move(buffer)));
      },
      // A joined output whose stream ended has left; the next look says so.
      [this](int type, int code) { ended_(type, code); });
  try {
    source->record(connection, monitor);
  } catch (const Error&) {
    return;  // gone meanwhile
  }
  source->recorder()->startDelivering();
  mix_.open(input, nowSeconds);
  joined_[monitor] = JoinedOutput{std::move(source), input, nowSeconds};
}

void SystemAudio::leave(std::map<std::string, JoinedOutput>::iterator joined) {
  RecordedSource& source = *joined->second.source;
  source.retire();
  double& end = monitorEnds_[joined->first];
  end = std::max(end, source.floorSeconds());
  mix_.close(joined->second.input);
  joined_.erase(joined);
}

void SystemAudio::leaveAll() {
  while (!joined_.empty()) leave(joined_.begin());
  linger_.reset();
}

}  // namespace mirevo::platform::pulse
