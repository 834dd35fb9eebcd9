#include "GccPhat.hpp"

#include <algorithm>
#include <cmath>

#include <fftw3.h>

namespace mirevo::inspect {
namespace {

// 2^k · 5^j at least `minimum`: a size FFTW transforms quickly, without the
// near doubling that a power of two alone may need.
std::size_t transformSize(std::size_t minimum) {
  std::size_t best = 1;
  while (best < minimum) best *= 2;
  for (std::size_t fives = 5; fives < best; fives *= 5)
    for (std::size_t size = fives; size < best; size *= 2)
      if (size >= minimum) best = std::min(best, size);
  return best;
}

fftw_complex* complexes(void* spectrum) {
  return static_cast<fftw_complex*>(spectrum);
}

}  // namespace

GccPhat::GccPhat(std::size_t windowSamples, std::size_t maxLagSamples, double sampleRate,
                 double lowHz, double highHz)
    : windowSamples_(windowSamples),
      maxLag_(maxLagSamples),
      size_(transformSize(windowSamples + maxLagSamples + 1)) {
  const double binHz = sampleRate / static_cast<double>(size_);
  lowBin_ = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(lowHz / binHz)));
  highBin_ = std::min(size_ / 2 - 1, static_cast<std::size_t>(highHz / binHz));
  const std::size_t bins = size_ / 2 + 1;
  samples_ = fftw_alloc_real(size_);
  earlierSpectrum_ = fftw_alloc_complex(bins);
  laterSpectrum_ = fftw_alloc_complex(bins);
  correlation_ = fftw_alloc_real(size_);
  const int n = static_cast<int>(size_);
  forward_ = fftw_plan_dft_r2c_1d(n, samples_, complexes(earlierSpectrum_), FFTW_ESTIMATE);
  inverse_ = fftw_plan_dft_c2r_1d(n, complexes(earlierSpectrum_), correlation_, FFTW_ESTIMATE);
}

GccPhat::~GccPhat() {
  fftw_destroy_plan(static_cast<fftw_plan>(forward_));
  fftw_destroy_plan(static_cast<fftw_plan>(inverse_));
  fftw_free(samples_);
  fftw_free(earlierSpectrum_);
  fftw_free(laterSpectrum_);
  fftw_free(correlation_);
}

void GccPhat::transform(std::span<const float> samples, void* spectrum) {
  const std::size_t count = std::min(samples.size(), windowSamples_);
  std::copy_n(samples.begin(), count, samples_);
  std::fill(samples_ + count, samples_ + size_, 0.0);
  fftw_execute_dft_r2c(static_cast<fftw_plan>(forward_), samples_, complexes(spectrum));
}

double GccPhat::correlationAt(std::ptrdiff_t lag) const {
  const auto size = static_cast<std::ptrdiff_t>(size_);
  return correlation_[static_cast<std::size_t>((lag % size + size) % size)];
}

CorrelationPeak GccPhat::correlate(std::span<const float> earlier, std::span<const float> later) {
  transform(earlier, earlierSpectrum_);
  transform(later, laterSpectrum_);
  // conj(E) · L, weighted to unit size within the band and nothing outside it:
  // its inverse transform peaks at the lag by which `later` follows `earlier`.
  fftw_complex* cross = complexes(earlierSpectrum_);
  const fftw_complex* other = complexes(laterSpectrum_);
  std::size_t counted = 0;
  for (std::size_t bin = 0; bin <= size_ / 2; ++bin) {
    const double re = cross[bin][0] * other[bin][0] + cross[bin][1] * other[bin][1];
    const double im = cross[bin][0] * other[bin][1] - cross[bin][1] * other[bin][0];
    const double size = std::sqrt(re * re + im * im);
    const bool inBand = bin >= lowBin_ && bin <= highBin_ && size > 0.0;
    cross[bin][0] = inBand ? re / size : 0.0;
    cross[bin][1] = inBand ? im / size : 0.0;
    if (inBand) ++counted;
  }
  CorrelationPeak peak;
  if (counted == 0) return peak;
  fftw_execute_dft_c2r(static_cast<fftw_plan>(inverse_), cross, correlation_);
  // Each counted bin stands for itself and its mirror: a perfect delay adds
  // up to 2 · counted at its lag.
  const double full = 2.0 * static_cast<double>(counted);
  const auto range = static_cast<std::ptrdiff_t>(maxLag_);
  std::ptrdiff_t best = 0;
  for (std::ptrdiff_t lag = -range; lag <= range; ++lag)
    if (correlationAt(lag) > correlationAt(best)) best = lag;

  // The peak's true place between samples, from the parabola through it and
  // its neighbours.
  const double left = correlationAt(best - 1);
  const double centre = correlationAt(best);
  const double right = correlationAt(best + 1);
  const double curvature = left - 2.0 * centre + right;
  const double offset = curvature < 0.0 ? 0.5 * (left - right) / curvature : 0.0;
  peak.lagSamples = static_cast<double>(best) + std::clamp(offset, -0.5, 0.5);
  peak.coherence = std::clamp(centre / full, 0.0, 1.0);

  // Lags near the peak belong to it (its main lobe and the filter's spread).
  constexpr std::ptrdiff_t kLobe = 16;
  double squares = 0.0;
  std::size_t others = 0;
  for (std::ptrdiff_t lag = -range; lag <= range; ++lag) {
    if (std::abs(lag - best) <= kLobe) continue;
    squares += correlationAt(lag) * correlationAt(lag);
    ++others;
  }
  const double noise = others > 0 ? std::sqrt(squares / static_cast<double>(others)) : 0.0;
  peak.prominence = noise > 0.0 ? centre / noise : 0.0;
  return peak;
}

}  // namespace mirevo::inspect
