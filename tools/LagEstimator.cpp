#include "LagEstimator.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::inspect {
namespace {

constexpr std::int64_t kRate = AnalysisTrack::kRate;
constexpr auto kWindow = static_cast<std::int64_t>(LagEstimator::kWindowMs * kRate / 1000);
constexpr auto kMaxLag = static_cast<std::size_t>(LagEstimator::kMaxLagMs * kRate / 1000);
// How far one source may run ahead before the windows behind it are analysed
// without waiting for the other.
constexpr std::int64_t kMaxLead = 120 * kRate;
// Speech and music, above mains hum and below what the 8 kHz analysis keeps cleanly.
constexpr double kLowHz = 100.0;
constexpr double kHighHz = 3600.0;
// Among the thousands of lags of the range, chance alone sends the highest
// of two unrelated signals' correlation to about 4 times its root mean
// square, rarely beyond 5.5.
constexpr double kMinProminence = 8.0;
// Below this root mean square (about -80 dBFS) a source is taken as silent.
constexpr double kSilence = 1e-4;

double rootMeanSquare(std::span<const float> samples) {
  double squares = 0.0;
  for (const float sample : samples) squares += static_cast<double>(sample) * sample;
  return samples.empty() ? 0.0 : std::sqrt(squares / static_cast<double>(samples.size()));
}

}  // namespace

void LagEstimator::addMicrophone(double startMs, std::span<const std::int16_t> samples,
                                 std::int64_t sampleRate) {
  catchUpTo(startMs);
  microphone_.add(startMs, samples, sampleRate);
  analyseReadyWindows(false);
}

void LagEstimator::addSystem(double startMs, std::span<const std::int16_t> samples,
                             std::int64_t sampleRate) {
  catchUpTo(startMs);
  system_.add(startMs, samples, sampleRate);
  analyseReadyWindows(false);
}

void LagEstimator::catchUpTo(double startMs) {
  const auto slot = static_cast<std::int64_t>(std::floor(startMs * kRate / 1000.0));
  while (slot - nextWindow_ > kWindow + kMaxLead) {
    if (std::max(microphone_.end(), system_.end()) > nextWindow_) {
      // What both sources have there; the other's audio for it, should it
      // still come, is left out.
      analyse(kWindow);
      continue;
    }
    // Neither source has audio from here up to the jump: no windows there.
    nextWindow_ = std::max(nextWindow_ + kWindow, (slot - kMaxLead) / kWindow * kWindow);
    microphone_.dropBefore(nextWindow_);
    system_.dropBefore(nextWindow_);
  }
}

void LagEstimator::finish() {
  analyseReadyWindows(true);
  // The recording is over; a stream of many keeps only their windows.
  correlator_.reset();
  microphone_.release();
  system_.release();
  microphoneWindow_ = std::vector<float>();
  systemWindow_ = std::vector<float>();
}

void LagEstimator::analyseReadyWindows(bool atEnd) {
  for (;;) {
    const std::int64_t behind = std::min(microphone_.end(), system_.end());
    const std::int64_t ahead = std::max(microphone_.end(), system_.end());
    const std::int64_t windowEnd = nextWindow_ + kWindow;
    if (behind >= windowEnd || ahead - nextWindow_ >= kWindow + kMaxLead ||
        (atEnd && ahead >= windowEnd)) {
      analyse(kWindow);
    } else if (atEnd && ahead - nextWindow_ >= kWindow / 2) {
      analyse(ahead - nextWindow_);
    } else {
      return;
    }
  }
}

void LagEstimator::analyse(std::int64_t length) {
  const bool any =
      microphone_.holdsAudio(nextWindow_, length) || system_.holdsAudio(nextWindow_, length);
  if (!any) {
    // Time without audio in either source (a gap in both) has no window.
    nextWindow_ += length;
    microphone_.dropBefore(nextWindow_);
    system_.dropBefore(nextWindow_);
    return;
  }
  const auto count = static_cast<std::size_t>(length);
  microphoneWindow_.assign(kWindow, 0.0f);
  systemWindow_.assign(kWindow, 0.0f);
  microphone_.read(nextWindow_, std::span(microphoneWindow_).first(count));
  system_.read(nextWindow_, std::span(systemWindow_).first(count));
  LagWindow window{static_cast<double>(nextWindow_) * 1000.0 / kRate,
                   static_cast<double>(length) * 1000.0 / kRate, std::nullopt, 0.0};
  if (rootMeanSquare(microphoneWindow_) > kSilence && rootMeanSquare(systemWindow_) > kSilence) {
    if (!correlator_)
      correlator_ = std::make_unique<GccPhat>(kWindow, kMaxLag, kRate, kLowHz, kHighHz);
    const CorrelationPeak peak = correlator_->correlate(systemWindow_, microphoneWindow_);
    window.coherence = peak.coherence;
    if (peak.prominence >= kMinProminence) window.lagMs = peak.lagSamples * 1000.0 / kRate;
  }
  windows_.push_back(window);
  nextWindow_ += length;
  microphone_.dropBefore(nextWindow_);
  system_.dropBefore(nextWindow_);
}

}  // namespace mirevo::inspect
