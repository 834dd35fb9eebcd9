#include "platform/pulse/ChosenSource.hpp"

#include <algorithm>

namespace mirevo::platform::pulse {

ChosenSource::ChosenSource(const Settings& settings, const Clock& clock,
                           RecordStream::HandOver handOver, Ended ended)
    : settings_(settings),
      clock_(clock),
      handOver_(std::move(handOver)),
      ended_(std::move(ended)),
      floorSeconds_(settings.startSeconds) {}

void ChosenSource::record(PulseConnection& connection, const std::string& source) {
  retire();
  RecordStream::Settings settings;
  settings.source = source;
  settings.sampleRate = settings_.sampleRate;
  settings.channelCount = settings_.channelCount;
  settings.floorSeconds = floorSeconds_;
  settings.framesRead = &framesRead_;
  stream_ =
      std::make_unique<RecordStream>(connection, clock_, settings, handOver_,
                                     [this](int code) { ended_(settings_.outputType, code); });
  source_ = source;
}

bool ChosenSource::recordChosen(PulseConnection& connection, const ServerDevices& devices) {
  const auto chosen = chooseSource(settings_.rule, settings_.named, devices);
  if (!chosen) {
    retire();
    return false;
  }
  if (stream_ && !stream_->ended() && source_ == *chosen) return true;
  record(connection, *chosen);
  stream_->startDelivering();
  return true;
}

void ChosenSource::handOverRead() {
  if (stream_) stream_->handOverRead();
}

void ChosenSource::finish() {
  if (stream_) stream_->finish();
}

void ChosenSource::retire() {
  if (!stream_) return;
  stream_->finish();
  floorSeconds_ = std::max(floorSeconds_, stream_->endSeconds());
  release();
}

void ChosenSource::release() {
  stream_.reset();
  source_.clear();
}

}  // namespace mirevo::platform::pulse
