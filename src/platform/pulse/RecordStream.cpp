#include "platform/pulse/RecordStream.hpp"

#include <pulse/error.h>

#include <algorithm>
#include <utility>

#include "platform/pulse/PulseError.hpp"
#include "platform/pulse/PulseSampleBuffer.hpp"

namespace mirevo::platform::pulse {
namespace {

ReadPlacer::Settings placerSettings(const RecordStream::Settings& settings,
                                    const PulseConnection& connection) {
  ReadPlacer::Settings placer;
  placer.sampleRate = settings.sampleRate;
  placer.channelCount = settings.channelCount;
  placer.floorSeconds = settings.floorSeconds;
  placer.countsLosses = connection.dropsCycles();
  placer.framesKept = settings.framesRead;
  return placer;
}

}  // namespace

RecordStream::RecordStream(PulseConnection& connection, const Clock& clock,
                           const Settings& settings, HandOver handOver, Failure failure)
    : connection_(connection),
      clock_(clock),
      failure_(std::move(failure)),
      placer_(placerSettings(settings, connection),
              [this, handOver = std::move(handOver)](ReadPlacer::Placed placed) {
                handOver(std::make_shared<PulseSampleBuffer>(format_, std::move(placed.samples),
                                                             placed.startSeconds));
              }),
      listener_(settings.listener) {
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
  pa_stream_set_state_callback(stream_, &RecordStream::stateChanged, this);
  pa_stream_set_read_callback(stream_, &RecordStream::readable, this);
  pa_stream_set_latency_update_callback(stream_, &RecordStream::timingUpdated, this);

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

RecordStream::~RecordStream() {
  connection_.removeReader(this);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
  if (!ended()) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
}

bool RecordStream::ended() const {
  const auto state = pa_stream_get_state(stream_);
  return state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED;
}

int RecordStream::errorCode() const {
  return connection_.errorCode();
}

void RecordStream::disconnect() {
  quiet_ = true;
  placer_.stop();
  if (!ended()) pa_stream_disconnect(stream_);
}

void RecordStream::stateChanged(pa_stream*, void* self) {
  auto* stream = static_cast<RecordStream*>(self);
  stream->connection_.signal();
  if (stream->ready()) stream->askForTiming(stream->clock_.hostSeconds());
  if (stream->ended()) stream->reportEnd(stream->errorCode());
}

void RecordStream::askForTiming(double nowSeconds) {
  timingAskedAt_ = nowSeconds;
  // The answer comes to timingUpdated.
  if (pa_operation* operation = pa_stream_update_timing_info(stream_, nullptr, nullptr)) {
    pa_operation_unref(operation);
  }
}

void RecordStream::askTiming() {
  if (ready()) askForTiming(clock_.hostSeconds());
}

void RecordStream::reportEnd(int code) {
  if (quiet_) return;
  quiet_ = true;
  // What was gathered goes out before the failure is told.
  placer_.flush();
  failure_(code);
}

void RecordStream::readable(pa_stream*, std::size_t, void* self) {
  // Taken when the connection's batch ends: more of the batch may follow.
  static_cast<RecordStream*>(self)->arrived_ = true;
}

void RecordStream::takeArrived() {
  if (!arrived_) return;
  arrived_ = false;
  readAll();
}

bool RecordStream::mayWait() const {
  return placer_.delivering() && fragmentsSeen_ >= kFragmentsJudged &&
         fragmentFrames_ < kShortFragmentSeconds * format_.sampleRate;
}

void RecordStream::countFragment(std::size_t bytes) {
  const double frames = static_cast<double>(bytes / (sizeof(float) * format_.channelCount));
  // An average over the last few dozen fragments.
  fragmentFrames_ =
      fragmentsSeen_ == 0 ? frames : fragmentFrames_ + (frames - fragmentFrames_) / 32;
  if (fragmentsSeen_ < kFragmentsJudged) ++fragmentsSeen_;
}

void RecordStream::timingUpdated(pa_stream* stream, void* self) {
  static_cast<RecordStream*>(self)->timingArrived(pa_stream_get_timing_info(stream));
}

void RecordStream::timingArrived(const pa_timing_info* timing) {
  if (timing == nullptr) return;
  // The server made its report the transport time ago (however long the
  // answer then waited for a batch to end).
  ReadPlacer::Report report;
  report.momentSeconds = clock_.hostSeconds() - static_cast<double>(timing->transport_usec) / 1e6;
  report.latencySeconds = static_cast<double>(timing->source_usec) / 1e6;
  report.writeIndex = -1;  // no count to go by
  if (ready() && !timing->write_index_corrupt) {
    report.writeIndex =
        timing->write_index / static_cast<std::int64_t>(sizeof(float) * format_.channelCount);
  }
  if (listener_ != nullptr) listener_->report(report);
  placer_.report(report);
}

// Every libpulse call checks for a fork with a getpid system call, and this
// runs for every fragment the server sends (hundreds a second from some
// sources): it calls as few as it can.
void RecordStream::readAll() {
  // What waits now is all this read takes: nothing arrives while it runs.
  const std::size_t waiting = readableBytes();
  if (waiting == 0) return;
  // The read's buffer is kept from one read to the next: no allocation.
  ReadPlacer::Read& read = read_;
  read.samples.clear();
  read.firstFrame = framesTaken_;
  read.arrivalSeconds = clock_.hostSeconds();
  bool failed = false;
  for (std::size_t left = waiting; left > 0;) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0) {
      failed = true;
      break;
    }
    if (bytes == 0) break;  // nothing buffered after all; no drop then
    countFragment(bytes);
    const std::size_t count = bytes / sizeof(float);
    if (data == nullptr) {
      // A hole is silence of its length, so that the sample count keeps
      // matching time.
      read.samples.insert(read.samples.end(), count, 0.0f);
    } else {
      const auto* from = static_cast<const float*>(data);
      read.samples.insert(read.samples.end(), from, from + count);
    }
    pa_stream_drop(stream_);
    left -= std::min(left, bytes);
  }
  framesTaken_ += static_cast<std::int64_t>(read.samples.size() / format_.channelCount);
  if (listener_ != nullptr) listener_->read(read);
  const bool wanted = placer_.read(read);
  if (failed) {
    reportEnd(errorCode());
    return;
  }
  // Asked once this read is taken, so that the answer covers it.
  if (wanted || read.arrivalSeconds - timingAskedAt_ >= kTimingSeconds) connection_.askTimings();
}

std::size_t RecordStream::readableBytes() const {
  const std::size_t bytes = pa_stream_readable_size(stream_);
  return bytes == static_cast<std::size_t>(-1) ? 0 : bytes;  // -1: not readable at all
}

void RecordStream::handOverRead() {
  if (!placer_.delivering()) return;
  if (ready()) readAll();
  placer_.flush();
}

void RecordStream::finish() {
  handOverRead();
  placer_.stop();
  quiet_ = true;
}

}  // namespace mirevo::platform::pulse
