#include "platform/pulse/RecordedSource.hpp"

#include <algorithm>

namespace mirevo::platform::pulse {

RecordedSource::RecordedSource(const Settings& settings, const Clock& clock,
                               SourceRecorder::HandOver handOver, Ended ended)
    : settings_(settings),
      clock_(clock),
      handOver_(std::move(handOver)),
      ended_(std::move(ended)),
      floorSeconds_(settings.startSeconds) {}

void RecordedSource::record(PulseConnection& connection, const std::string& source) {
  retire();
  SourceRecorder::Settings settings;
  settings.source = source;
  settings.sampleRate = settings_.sampleRate;
  settings.channelCount = settings_.channelCount;
  settings.floorSeconds = floorSeconds_;
  settings.framesRead = &framesRead_;
  recorder_ =
      std::make_unique<SourceRecorder>(connection, clock_, settings, handOver_,
                                       [this](int code) { ended_(settings_.outputType, code); });
  source_ = source;
}

bool RecordedSource::follow(PulseConnection& connection, const ServerDevices& devices) {
  const auto chosen = chooseSource(settings_.rule, settings_.named, devices);
  if (!chosen) {
    retire();
    return false;
  }
  if (recorder_ && !recorder_->ended() && source_ == *chosen) return true;
  record(connection, *chosen);
  recorder_->startDelivering();
  return true;
}

void RecordedSource::handOverRead() {
  if (recorder_) recorder_->handOverRead();
}

void RecordedSource::finish() {
  if (recorder_) recorder_->finish();
}

void RecordedSource::retire() {
  if (!recorder_) return;
  recorder_->finish();
  floorSeconds_ = std::max(floorSeconds_, recorder_->endSeconds());
  drop();
}

void RecordedSource::drop() {
  recorder_.reset();
  source_.clear();
}

}  // namespace mirevo::platform::pulse
