#include "audio/AudioChunks.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "audio/MonoMix.hpp"
#include "events/Output.hpp"
#include "platform/Error.hpp"

namespace mirevo::audio {
namespace {

constexpr std::int64_t kMaxFrames = 192000;
constexpr std::uint32_t kMaxChannels = 32;
constexpr double kMinRate = 8000.0;
constexpr double kMaxRate = 192000.0;
// A buffer further than this from where the gathered audio ends starts a new
// chunk, whether it jumps forward or back.
constexpr double kMaxJumpMs = 100.0;

platform::Error unsupportedFormat() {
  return platform::Error("MirevoAudio", 1, "Unsupported audio format.");
}

platform::Error unsupportedSampleType() {
  return platform::Error("MirevoAudio", 2, "Unsupported PCM sample type.");
}

// Rounds halves away from zero, saturating at the ends of int64 so that no
// time, however far off, can overflow the conversion.
std::int64_t roundToInteger(double value) {
  const double rounded = std::round(value);
  if (std::isnan(rounded)) return 0;
  if (rounded >= 0x1p63) return std::numeric_limits<std::int64_t>::max();
  if (rounded < -0x1p63) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(rounded);
}

}  // namespace

AudioChunks::AudioChunks(std::string job, std::string source, double origin,
                         const platform::Clock& clock)
    : job_(std::move(job)),
      source_(std::move(source)),
      origin_(origin),
      clock_(clock),
      line_(job_, source_) {}

double AudioChunks::level() const {
  return level_;
}

double AudioChunks::lastPacket() const {
  return lastPacket_;
}

void AudioChunks::append(const platform::SampleBuffer& buffer) {
  // Buffers that carry nothing usable are dropped without a trace.
  if (!buffer.dataIsReady()) return;
  const auto format = buffer.formatDescription();
  if (!format) return;
  const std::int64_t frames = buffer.numSamples();
  if (frames < 1 || frames > kMaxFrames) return;

  // Everything that can fail before the accumulator changes.
  if (format->channelCount == 0 || format->channelCount > kMaxChannels) throw unsupportedFormat();
  if (!(format->sampleRate >= kMinRate && format->sampleRate <= kMaxRate)) {
    throw unsupportedFormat();  // NaN fails this test too
  }
  if (!working_.prepare(*format, frames)) throw unsupportedFormat();
  if (const std::int32_t status = buffer.copyPcmData(working_); status != 0) {
    throw platform::osStatusError(status);
  }
  const std::optional<double> bufferMs = bufferTimeMs(buffer);
  if (!bufferMs) return;

  // A fractional rate counts as its whole number of hertz.
  const auto bufferRate = static_cast<std::int64_t>(format->sampleRate);
  breakIfDiscontinuous(bufferRate, *bufferMs);
  rate_ = bufferRate;
  // A chunk opened by this buffer starts at its time; a continued chunk keeps
  // counting time in samples.
  if (pendingSamples_ == 0) startMs_ = *bufferMs;

  const double sumOfSquares = convertAndGather();
  level_ = std::min(1.0, 4.0 * std::sqrt(sumOfSquares / static_cast<double>(frames)));
  lastPacket_ = clock_.uptimeSeconds();
}

std::optional<double> AudioChunks::bufferTimeMs(const platform::SampleBuffer& buffer) const {
  const double seconds = buffer.presentationSeconds();
  if (!std::isfinite(seconds)) return std::nullopt;
  const double ms = (seconds - origin_) * 1000.0;
  // A time so far off that it overflows cannot be placed on the timeline.
  if (!std::isfinite(ms)) return std::nullopt;
  return ms < 0.0 ? 0.0 : ms;
}

void AudioChunks::breakIfDiscontinuous(std::int64_t bufferRate, double bufferMs) {
  if (rate_ != bufferRate) {
    flush();  // the gathered audio goes out labelled with its own rate
    return;
  }
  if (pendingSamples_ == 0) return;
  const double endMs =
      startMs_ + static_cast<double>(pendingSamples_) / static_cast<double>(rate_) * 1000.0;
  if (std::fabs(bufferMs - endMs) > kMaxJumpMs) flush();
}

double AudioChunks::convertAndGather() {
  const MixSource source = mixSourceOf(working_);
  if (!source.valid) throw unsupportedSampleType();

  const auto chunkSamples = static_cast<std::size_t>(rate_);
  if (pcm_.size() < chunkSamples) pcm_.resize(chunkSamples);
  const std::int64_t frames = working_.frameLength();
  double sumOfSquares = 0.0;
  // The one-second test holds after every sample: each block runs up to the
  // next cut, so a cut falls on exactly the same sample.
  for (std::int64_t first = 0; first < frames;) {
    const auto room = static_cast<std::int64_t>(chunkSamples - pendingSamples_);
    const std::int64_t count = std::min(frames - first, room);
    mixToMono(source, first, count, pcm_.data() + pendingSamples_, sumOfSquares);
    pendingSamples_ += static_cast<std::size_t>(count);
    first += count;
    if (pendingSamples_ >= chunkSamples) flush();
  }
  return sumOfSquares;
}

void AudioChunks::flush() {
  if (pendingSamples_ == 0) return;
  const double durationMs =
      static_cast<double>(pendingSamples_) / static_cast<double>(rate_) * 1000.0;
  ChunkFields fields;
  fields.sequence = sequence_;
  fields.startedAtMs = roundToInteger(startMs_);
  fields.durationMs = std::max<std::int64_t>(1, roundToInteger(durationMs));
  fields.sampleRate = rate_;
  Output::writeLine(line_.build(fields, {pcm_.data(), pendingSamples_}));
  ++sequence_;
  startMs_ += durationMs;
  pendingSamples_ = 0;
}

}  // namespace mirevo::audio
