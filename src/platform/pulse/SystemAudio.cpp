#include "platform/pulse/SystemAudio.hpp"

#include <algorithm>

#include "platform/Error.hpp"

namespace mirevo::platform::pulse {
namespace {

AudioFormat mixFormat(const ChosenSource::Settings& settings) {
  AudioFormat format;
  format.sampleRate = settings.sampleRate;
  format.channelCount = static_cast<std::uint32_t>(settings.channelCount);
  format.interleaved = true;
  format.sampleType = SampleType::float32;
  return format;
}

// The record streams hand over nothing but their own buffers.
std::shared_ptr<const PulseSampleBuffer> asPulseBuffer(std::shared_ptr<const SampleBuffer> buffer) {
  return std::static_pointer_cast<const PulseSampleBuffer>(std::move(buffer));
}

ChosenSource::Settings defaultOutputSettings(ChosenSource::Settings settings) {
  settings.rule = SourceRule::defaultOutput;
  settings.named.clear();
  return settings;
}

}  // namespace

SystemAudio::SystemAudio(const ChosenSource::Settings& settings, const Clock& clock,
                         std::shared_ptr<SerialQueue> worker, SystemMix::HandOver handOver,
                         ChosenSource::Ended ended, std::function<void()> lookAgain)
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
  forEachSource([](ChosenSource& source) { source.handOverRead(); });
  mix_.flush();
}

void SystemAudio::finish() {
  forEachSource([](ChosenSource& source) { source.finish(); });
  mix_.flush();
}

void SystemAudio::disconnect() {
  forEachSource([](ChosenSource& source) {
    if (source.stream() != nullptr) source.stream()->disconnect();
  });
}

bool SystemAudio::ended() const {
  bool allEnded = true;
  forEachSource([&](const ChosenSource& source) {
    allEnded = allEnded && (source.stream() == nullptr || source.stream()->ended());
  });
  return allEnded;
}

void SystemAudio::retire() {
  leaveAll();
  defaultOutput_.retire();
  mix_.flush();
}

void SystemAudio::release() {
  forEachSource([](ChosenSource& source) { source.release(); });
  joined_.clear();
}

void SystemAudio::applyRules(PulseConnection& connection, const ServerDevices& devices,
                             bool chooseDefault) {
  ChosenSource& system = defaultOutput_;
  const double now = clock_.hostSeconds();
  const auto defaultMonitor =
      chooseDefault ? chooseSource(SourceRule::defaultOutput, "", devices) : system.source();
  const auto playing = mixedMonitors(devices);
  const auto listed = [&](const std::string& monitor) {
    return std::any_of(devices.sources.begin(), devices.sources.end(),
                       [&](const SourceInfo& source) { return source.name == monitor; });
  };
  // Those that leave go first: a sink that became the default output is
  // recorded on from where its joined record stream ended.
  bool lingering = false;
  for (auto joined = joined_.begin(); joined != joined_.end();) {
    const std::string& monitor = joined->first;
    const bool plays = std::find(playing.begin(), playing.end(), monitor) != playing.end();
    if (plays) joined->second.lastPlayedSeconds = now;
    const RecordStream* stream = joined->second.source->stream();
    const bool gone =
        monitor == defaultMonitor || !listed(monitor) || stream == nullptr || stream->ended();
    if (gone || (!plays && now - joined->second.lastPlayedSeconds >= kLingerSeconds)) {
      leave(joined++);
      continue;
    }
    lingering = lingering || !plays;
    ++joined;
  }
  const std::string before = system.source();
  if (chooseDefault) {
    if (defaultMonitor) {
      if (const auto end = monitorEnds_.find(*defaultMonitor); end != monitorEnds_.end()) {
        system.raiseFloor(end->second);
      }
    }
    system.recordChosen(connection, devices);
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
  ChosenSource::Settings settings = settings_;
  settings.rule = SourceRule::named;
  settings.named = monitor;
  if (const auto end = monitorEnds_.find(monitor); end != monitorEnds_.end()) {
    settings.startSeconds = std::max(settings.startSeconds, end->second);
  }
  const int input = nextInput_++;
  auto source = std::make_unique<ChosenSource>(
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
  source->stream()->startDelivering();
  mix_.open(input, nowSeconds);
  joined_[monitor] = JoinedOutput{std::move(source), input, nowSeconds};
}

void SystemAudio::leave(std::map<std::string, JoinedOutput>::iterator joined) {
  ChosenSource& source = *joined->second.source;
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
