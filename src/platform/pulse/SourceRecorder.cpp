#include "platform/pulse/SourceRecorder.hpp"

#include <pulse/error.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/pulse/PulseError.hpp"
#include "platform/pulse/PulseSampleBuffer.hpp"

namespace mirevo::platform::pulse {

SourceRecorder::SourceRecorder(PulseConnection& connection, const Clock& clock,
                               const Settings& settings, HandOver handOver, Failure failure)
    : connection_(connection),
      clock_(clock),
      handOver_(std::move(handOver)),
      failure_(std::move(failure)),
      timeline_(settings.sampleRate, settings.floorSeconds),
      framesRead_(settings.framesRead),
      origin_(settings.sampleRate, connection.dropsCycles()) {
  format_.sampleRate = settings.sampleRate;
  format_.channelCount = static_cast<std::uint32_t>(settings.channelCount);
  format_.interleaved = true;
  format_.sampleType = SampleType::float32;

  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_FLOAT32LE;
  spec.rate = static_cast<std::uint32_t>(settings.sampleRate);
  spec.channels = static_cast<std::uint8_t>(settings.channelCount);
  if (settings.channelCount < 1 || settings.channelCount > static_cast<int>(PA_CHANNELS_MAX) ||
      !pa_sample_spec_valid(&spec)) {
    throw pulseError(PA_ERR_INVALID);
  }
  stream_ = pa_stream_new(connection.context(), "Mirevo recording", &spec, nullptr);
  if (stream_ == nullptr) throw pulseError(connection.errorCode());
  pa_stream_set_state_callback(stream_, &SourceRecorder::stateChanged, this);
  pa_stream_set_read_callback(stream_, &SourceRecorder::readable, this);
  pa_stream_set_latency_update_callback(stream_, &SourceRecorder::timingUpdated, this);

  // Without a fragment size both servers default to fragments of seconds.
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = static_cast<std::uint32_t>(-1);
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(
      pa_usec_to_bytes(static_cast<pa_usec_t>(kFragmentSeconds * 1e6), &spec));
  // The stream stays on its source: should the source go away, recording
  // another device instead (perhaps a monitor) would be wrong.
  // The source's latency is asked for now and then (askForTiming), not
  // every second as the automatic updates would.
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream_, settings.source.c_str(), &attributes, flags) < 0) {
    const int code = connection.errorCode();
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    pa_stream_unref(stream_);
    throw pulseError(code);
  }
  connection_.addReader(this);
}

SourceRecorder::~SourceRecorder() {
  connection_.removeReader(this);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
  if (!ended()) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
}

bool SourceRecorder::ended() const {
  const auto state = pa_stream_get_state(stream_);
  return state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED;
}

int SourceRecorder::errorCode() const {
  return connection_.errorCode();
}

void SourceRecorder::disconnect() {
  quiet_ = true;
  delivering_ = false;
  pending_.clear();
  unsettled_.clear();
  if (!ended()) pa_stream_disconnect(stream_);
}

void SourceRecorder::stateChanged(pa_stream*, void* self) {
  auto* recorder = static_cast<SourceRecorder*>(self);
  recorder->connection_.signal();
  if (recorder->ready()) recorder->askForTiming(recorder->clock_.hostSeconds());
  if (recorder->ended()) recorder->reportEnd(recorder->errorCode());
}

void SourceRecorder::askForTiming(double nowSeconds) {
  timingAskedAt_ = nowSeconds;
  // The answer comes to timingUpdated.
  if (pa_operation* operation = pa_stream_update_timing_info(stream_, nullptr, nullptr)) {
    pa_operation_unref(operation);
  }
}

void SourceRecorder::askTiming() {
  if (ready()) askForTiming(clock_.hostSeconds());
}

bool SourceRecorder::wantsTiming(double nowSeconds) const {
  return (delivering_ && anchoring_ &&
          (origin_.reports() < kAnchorReports || !origin_.covers(framesTaken_))) ||
         origin_.doubted() || nowSeconds - timingAskedAt_ >= kTimingSeconds;
}

void SourceRecorder::reportEnd(int code) {
  if (quiet_) return;
  quiet_ = true;
  // What was gathered goes out before the failure is told.
  if (delivering_) handOverAll();
  failure_(code);
}

void SourceRecorder::readable(pa_stream*, std::size_t, void* self) {
  // Taken when the connection settles: more of the batch may follow.
  static_cast<SourceRecorder*>(self)->arrived_ = true;
}

void SourceRecorder::takeArrived() {
  if (!arrived_) return;
  arrived_ = false;
  readAll();
}

bool SourceRecorder::mayWait() const {
  return delivering_ && fragmentsSeen_ >= kFragmentsJudged &&
         fragmentFrames_ < kShortFragmentSeconds * format_.sampleRate;
}

void SourceRecorder::countFragment(std::size_t bytes) {
  const double frames = static_cast<double>(bytes / (sizeof(float) * format_.channelCount));
  // An average over the last few dozen fragments.
  fragmentFrames_ =
      fragmentsSeen_ == 0 ? frames : fragmentFrames_ + (frames - fragmentFrames_) / 32;
  if (fragmentsSeen_ < kFragmentsJudged) ++fragmentsSeen_;
}

void SourceRecorder::timingUpdated(pa_stream* stream, void* self) {
  static_cast<SourceRecorder*>(self)->timingArrived(pa_stream_get_timing_info(stream));
}

void SourceRecorder::timingArrived(const pa_timing_info* timing) {
  if (timing == nullptr) return;
  serverLatencySeconds_ = static_cast<double>(timing->source_usec) / 1e6;
  if (!ready() || timing->write_index_corrupt) return;
  // The server made its report the transport time ago (however long the
  // answer then waited for a batch to end).
  const double now = clock_.hostSeconds();
  const double reportSeconds = now - static_cast<double>(timing->transport_usec) / 1e6;
  const auto frameBytes = static_cast<std::int64_t>(sizeof(float) * format_.channelCount);
  const std::int64_t lost = origin_.report(reportSeconds, serverLatencySeconds_,
                                           timing->write_index / frameBytes, framesTaken_);
  if (lost > 0) fillLoss(lost);
  if (delivering_ && anchoring_ && mayPlace() &&
      static_cast<double>(pendingFrames()) >= kHandOverSeconds * format_.sampleRate) {
    handOverPending();
  }
}

bool SourceRecorder::arrivedLate(double lateness) {
  // A read is late by however long the server gathered its fragment and this
  // process took to take it; a loss makes every read after it later by the
  // loss.
  const bool late = lateness_.size() >= kLatenessKept / 2 &&
                    lateness > *std::min_element(lateness_.begin(), lateness_.end()) +
                                   CaptureOrigin::kJumpSeconds;
  lateness_.push_back(lateness);
  if (lateness_.size() > kLatenessKept) lateness_.pop_front();
  return late;
}

void SourceRecorder::fillLoss(std::int64_t frames) {
  // The reads weighed since the loss arrived later by its length.
  lateness_.clear();
  if (!delivering_) return;
  if (pending_.empty()) {
    // Before the next read, whose index already counts the silence.
    pendingFirstFrame_ = framesTaken_;
    pendingFirstIndex_ = framesTaken_ + origin_.lostFrames() - frames;
    const auto counted = origin_.capturedSeconds(pendingFirstIndex_);
    pendingCaptured_ = counted ? *counted : timeline_.endSeconds();
  }
  prependSilence(frames);
}

void SourceRecorder::prependSilence(std::int64_t frames) {
  // Counted with what is read, as it is delivered with it.
  if (framesRead_ != nullptr) framesRead_->fetch_add(frames, std::memory_order_relaxed);
  pending_.insert(pending_.begin(), static_cast<std::size_t>(frames) * format_.channelCount, 0.0f);
}

void SourceRecorder::fillLossAcrossBreak(double& captured) {
  if (!connection_.dropsCycles() || !timeline_.anchored()) return;
  const double late = captured - timeline_.endSeconds();
  if (late <= CaptureOrigin::kJumpSeconds || late >= StreamTimeline::kGapSeconds) return;
  const std::int64_t frames = std::llround(late * format_.sampleRate);
  prependSilence(frames);
  captured -= static_cast<double>(frames) / format_.sampleRate;
}

bool SourceRecorder::mayPlace() const {
  if (!anchoring_) return true;
  const auto frames = static_cast<std::int64_t>(pendingFrames());
  // The newest report was made after the first of these frames was read: it
  // counts only across them and what the server still held.
  return (origin_.reports() >= kAnchorReports && origin_.covers(pendingFirstFrame_ + 1)) ||
         static_cast<double>(frames) >= kReportWaitSeconds * format_.sampleRate;
}

double SourceRecorder::captureTimeOf(std::int64_t index, double arrivalSeconds) {
  const auto counted = origin_.capturedSeconds(index);
  if (!counted) return arrivalSeconds;
  // A read may arrive late by a loss the reports have yet to tell, and by
  // however long it waited besides: only more than both breaks the count at
  // once. A read later by more than a gap breaks it too when the reads
  // before it were as late: the reports would have told a loss by then.
  const double late = arrivalSeconds - *counted;
  const bool lateAsBefore = lateness_.size() >= kLatenessKept / 2 &&
                            *std::min_element(lateness_.end() - kLatenessKept / 2,
                                              lateness_.end()) > StreamTimeline::kGapSeconds;
  if (late > StreamTimeline::kGapSeconds + CaptureOrigin::kMaxLossSeconds ||
      (late > StreamTimeline::kGapSeconds && lateAsBefore) || -late > StreamTimeline::kGapSeconds) {
    // The stream's count no longer matches time: a newer report will tell,
    // and what follows anchors the timeline anew.
    origin_.forget();
    lateness_.clear();
    anchoring_ = true;
    return arrivalSeconds;
  }
  return *counted;
}

// Every libpulse call checks for a fork with a getpid system call, and this
// runs for every fragment the server sends (hundreds a second from some
// sources): it calls as few as it can.
void SourceRecorder::readAll() {
  // What waits now is all this read takes: nothing arrives while it runs.
  const std::size_t waiting = readableBytes();
  if (waiting == 0) return;
  const double now = clock_.hostSeconds();
  const std::int64_t firstFrame = framesTaken_;
  const std::int64_t firstIndex = firstFrame + origin_.lostFrames();
  const bool counted = origin_.capturedSeconds(firstIndex).has_value();
  const double arrival = capturedSeconds(now, waiting);
  const double captured = captureTimeOf(firstIndex, arrival);
  const bool countBroke = counted && !origin_.capturedSeconds(firstIndex);
  // A read that came late may follow a loss: the reports will tell.
  const bool late = counted && !countBroke && delivering_ && arrivedLate(arrival - captured);
  if (delivering_ && !pending_.empty()) {
    // A gap between reads must not vanish inside one gathered buffer.
    const double pendingEnd =
        pendingCaptured_ + static_cast<double>(pendingFrames()) / format_.sampleRate;
    if (std::fabs(captured - pendingEnd) > StreamTimeline::kGapSeconds) handOverPending();
  }
  // Handing over what came before the gap did not anchor what follows it.
  if (countBroke) anchoring_ = true;
  const std::size_t before = pending_.size();
  for (std::size_t left = waiting; left > 0;) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0) {
      reportEnd(errorCode());
      return;
    }
    if (bytes == 0) break;  // nothing buffered after all; no drop then
    countFragment(bytes);
    framesTaken_ += static_cast<std::int64_t>(bytes / (sizeof(float) * format_.channelCount));
    const std::size_t count = bytes / sizeof(float);
    if (data == nullptr) {
      // A hole is silence of its length, so that the sample count keeps
      // matching time.
      pending_.insert(pending_.end(), count, 0.0f);
    } else {
      const auto* from = static_cast<const float*>(data);
      pending_.insert(pending_.end(), from, from + count);
    }
    pa_stream_drop(stream_);
    left -= std::min(left, bytes);
  }
  // Asked once this read is taken, so that the answer covers it.
  if (late || wantsTiming(now)) connection_.askTimings();
  if (!delivering_) {
    pending_.clear();  // captured before the recording started
    return;
  }
  if (before == 0) {
    pendingCaptured_ = captured;
    pendingFirstFrame_ = firstFrame;
    pendingFirstIndex_ = firstIndex;
  }
  if (framesRead_ != nullptr) {
    const auto frames =
        static_cast<std::int64_t>((pending_.size() - before) / format_.channelCount);
    framesRead_->fetch_add(frames, std::memory_order_relaxed);
  }
  if (static_cast<double>(pendingFrames()) >= kHandOverSeconds * format_.sampleRate && mayPlace()) {
    handOverPending();
  }
}

void SourceRecorder::leaveOutBeforeFloor(double& captured) {
  const auto frames = static_cast<std::int64_t>(pendingFrames());
  const std::int64_t early = timeline_.framesBeforeFloor(frames, captured);
  if (early == 0) return;
  pending_.erase(pending_.begin(),
                 pending_.begin() + static_cast<std::ptrdiff_t>(early * format_.channelCount));
  captured += static_cast<double>(early) / format_.sampleRate;
  // Never part of the recording: not read for delivery either.
  if (framesRead_ != nullptr) framesRead_->fetch_sub(early, std::memory_order_relaxed);
}

std::size_t SourceRecorder::readableBytes() const {
  const std::size_t bytes = pa_stream_readable_size(stream_);
  return bytes == static_cast<std::size_t>(-1) ? 0 : bytes;  // -1: not readable at all
}

void SourceRecorder::handOverRead() {
  if (!delivering_) return;
  if (ready()) readAll();
  handOverAll();
}

void SourceRecorder::finish() {
  handOverRead();
  delivering_ = false;
  quiet_ = true;
}

std::size_t SourceRecorder::pendingFrames() const {
  return pending_.size() / format_.channelCount;
}

double SourceRecorder::capturedSeconds(double nowSeconds, std::size_t waitingBytes) const {
  // The capture time of the oldest frame waiting: before now by what waits
  // here and what the server still held at its last timing report, if it has
  // reported yet. (The interpolated stream latency is not used: on a sink's
  // monitor it can be off by most of a second for seconds after the start.)
  const double bytesPerSecond =
      static_cast<double>(sizeof(float)) * format_.channelCount * format_.sampleRate;
  return nowSeconds - static_cast<double>(waitingBytes) / bytesPerSecond - serverLatencySeconds_;
}

void SourceRecorder::handOverPending() {
  if (pending_.empty()) return;
  const bool anchors = anchoring_;
  anchoring_ = false;  // unless the count breaks here
  double captured = captureTimeOf(pendingFirstIndex_, pendingCaptured_);
  if (anchors && origin_.capturedSeconds(pendingFirstIndex_)) fillLossAcrossBreak(captured);
  leaveOutBeforeFloor(captured);
  const std::size_t frames = pendingFrames();
  if (frames == 0) {
    anchoring_ = anchoring_ || anchors;  // nothing was placed
    return;
  }
  unsettled_.push_back(std::move(pending_));
  deliverSettled(timeline_.place(static_cast<std::int64_t>(frames), captured));
  pending_ = std::vector<float>();
  pending_.reserve(static_cast<std::size_t>(2 * kHandOverSeconds * format_.sampleRate) *
                   format_.channelCount);
}

void SourceRecorder::handOverAll() {
  handOverPending();
  deliverSettled(timeline_.flush());
}

void SourceRecorder::deliverSettled(const std::vector<double>& startSeconds) {
  for (const double seconds : startSeconds) {
    deliver(std::move(unsettled_.front()), seconds);
    unsettled_.pop_front();
  }
}

void SourceRecorder::deliver(std::vector<float> samples, double startSeconds) {
  const std::size_t frameSamples = format_.channelCount;
  const std::size_t frames = samples.size() / frameSamples;
  const auto maxFrames = static_cast<std::size_t>(kMaxBufferSeconds * format_.sampleRate);
  if (frames <= maxFrames) {
    handOver_(std::make_shared<PulseSampleBuffer>(format_, std::move(samples), startSeconds));
    return;
  }
  for (std::size_t first = 0; first < frames; first += maxFrames) {
    const std::size_t count = std::min(maxFrames, frames - first);
    const auto from = samples.begin() + static_cast<std::ptrdiff_t>(first * frameSamples);
    std::vector<float> piece(from, from + static_cast<std::ptrdiff_t>(count * frameSamples));
    const double seconds = startSeconds + static_cast<double>(first) / format_.sampleRate;
    handOver_(std::make_shared<PulseSampleBuffer>(format_, std::move(piece), seconds));
  }
}

}  // namespace mirevo::platform::pulse
