#include "ToneLevels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace mirevo::testing {
namespace {

constexpr double kBlockSeconds = 0.05;
// -60 dBFS in power.
constexpr double kSilentPower = 1e-6;

double dB(double power) {
  return 10.0 * std::log10(power);
}

// The power of the component at `radians` per sample in one windowed block:
// a sine of amplitude A gives A² / 2, as its RMS squared.
double tonePower(std::span<const double> windowed, double windowSum, double radians) {
  const double coefficient = 2.0 * std::cos(radians);
  double previous = 0.0;
  double beforePrevious = 0.0;
  for (const double sample : windowed) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  const double magnitudeSquared = previous * previous + beforePrevious * beforePrevious -
                                  coefficient * previous * beforePrevious;
  // |X| = A / 2 * sum of the window.
  return 2.0 * magnitudeSquared / (windowSum * windowSum);
}

class BlockMeter {
 public:
  BlockMeter(double sampleRate, const std::vector<double>& hertz)
      : sampleRate_(sampleRate), hertz_(hertz), power_(hertz.size(), 0.0) {}

  void add(std::span<const double> block) {
    double total = 0.0;
    for (const double sample : block) total += sample * sample;
    total /= static_cast<double>(block.size());
    if (total < kSilentPower) return;
    windowed_.resize(block.size());
    double windowSum = 0.0;
    for (std::size_t n = 0; n < block.size(); ++n) {
      const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) /
                                            static_cast<double>(block.size()));
      windowed_[n] = block[n] * w;
      windowSum += w;
    }
    for (std::size_t i = 0; i < hertz_.size(); ++i) {
      power_[i] +=
          tonePower(windowed_, windowSum, 2.0 * std::numbers::pi * hertz_[i] / sampleRate_);
    }
    stretchPower_ += total;
    ++soundingBlocks_;
    soundingSamples_ += block.size();
  }

  ToneLevels levels(std::size_t samples) const {
    ToneLevels levels;
    levels.seconds = static_cast<double>(samples) / sampleRate_;
    levels.soundingSeconds = static_cast<double>(soundingSamples_) / sampleRate_;
    levels.toneRms.assign(hertz_.size(), 0.0);
    if (soundingBlocks_ == 0) return levels;
    const double blocks = static_cast<double>(soundingBlocks_);
    levels.stretchRms = std::sqrt(stretchPower_ / blocks);
    for (std::size_t i = 0; i < hertz_.size(); ++i) {
      levels.toneRms[i] = std::sqrt(power_[i] / blocks);
    }
    return levels;
  }

 private:
  double sampleRate_;
  const std::vector<double>& hertz_;
  std::vector<double> power_;
  std::vector<double> windowed_;
  double stretchPower_ = 0.0;
  std::size_t soundingBlocks_ = 0;
  std::size_t soundingSamples_ = 0;
};

template <typename Sample>
ToneLevels measure(std::span<const Sample> samples, double scale, double sampleRate,
                   const std::vector<double>& hertz) {
  BlockMeter meter(sampleRate, hertz);
  const auto blockSize =
      std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(kBlockSeconds * sampleRate)));
  std::vector<double> block;
  std::size_t start = 0;
  while (start < samples.size()) {
    // A short last block joins the one before it, so every block can resolve
    // the tones.
    std::size_t end = std::min(samples.size(), start + blockSize);
    if (samples.size() - end < blockSize / 2) end = samples.size();
    block.clear();
    for (std::size_t n = start; n < end; ++n) block.push_back(samples[n] * scale);
    meter.add(block);
    start = end;
  }
  return meter.levels(samples.size());
}

template <typename Sample>
::testing::AssertionResult check(std::span<const Sample> samples, double sampleRate,
                                 const std::vector<double>& hertz, bool present) {
  const ToneLevels levels = toneLevels(samples, sampleRate, hertz);
  for (std::size_t i = 0; i < hertz.size(); ++i) {
    const double level = levels.relativeDb(i);
    if (present ? level < kPresentDb : level > kAbsentDb) {
      return ::testing::AssertionFailure()
             << hertz[i] << " Hz is not " << (present ? "present" : "absent") << ": "
             << levels.describe(hertz);
    }
  }
  return ::testing::AssertionSuccess() << levels.describe(hertz);
}

}  // namespace

double ToneLevels::relativeDb(std::size_t index) const {
  if (stretchRms <= 0.0) return -std::numeric_limits<double>::infinity();
  const double ratio = toneRms.at(index) / stretchRms;
  return dB(ratio * ratio);
}

std::string ToneLevels::describe(const std::vector<double>& hertz) const {
  std::string text;
  char part[96];
  for (std::size_t i = 0; i < hertz.size() && i < toneRms.size(); ++i) {
    std::snprintf(part, sizeof part, "%s%g Hz %.1f dB", i == 0 ? "" : ", ", hertz[i],
                  relativeDb(i));
    text += part;
  }
  std::snprintf(part, sizeof part, " of %.1f dBFS (%.2f of %.2f s sounding)",
                dB(stretchRms * stretchRms), soundingSeconds, seconds);
  return text + part;
}

ToneLevels toneLevels(std::span<const std::int16_t> samples, double sampleRate,
                      const std::vector<double>& hertz) {
  return measure(samples, 1.0 / 32768.0, sampleRate, hertz);
}

ToneLevels toneLevels(std::span<const float> samples, double sampleRate,
                      const std::vector<double>& hertz) {
  return measure(samples, 1.0, sampleRate, hertz);
}

::testing::AssertionResult tonesPresent(std::span<const std::int16_t> samples, double sampleRate,
                                        const std::vector<double>& hertz) {
  return check(samples, sampleRate, hertz, true);
}

::testing::AssertionResult tonesPresent(std::span<const float> samples, double sampleRate,
                                        const std::vector<double>& hertz) {
  return check(samples, sampleRate, hertz, true);
}

::testing::AssertionResult tonesAbsent(std::span<const std::int16_t> samples, double sampleRate,
                                       const std::vector<double>& hertz) {
  return check(samples, sampleRate, hertz, false);
}

::testing::AssertionResult tonesAbsent(std::span<const float> samples, double sampleRate,
                                       const std::vector<double>& hertz) {
  return check(samples, sampleRate, hertz, false);
}

}  // namespace mirevo::testing
