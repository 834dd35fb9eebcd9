// Generalised cross-correlation with the phase transform (GCC-PHAT) of two
// equally long stretches of audio: each frequency of their cross-spectrum is
// weighted to unit size, so that only the phases count and a sound heard by
// both, speech, music or a click, gives one sharp peak at its delay however
// its spectrum is coloured. FFTs by FFTW.
//
// Threads: one caller at a time per correlator.
#pragma once

#include <cstddef>
#include <span>

namespace mirevo::inspect {

struct CorrelationPeak {
  double lagSamples = 0.0;  // how much later `later` has the sound; fractional
  // The height of the peak, 0 to 1: 1 when every frequency of the band agrees
  // on the delay, near 0 for two unrelated signals.
  double coherence = 0.0;
  // The peak over the root mean square of the correlation at every other lag
  // of the range: how far it stands out from chance.
  double prominence = 0.0;
};

class GccPhat {
 public:
  // Stretches of `windowSamples` at `sampleRate`; lags within ±`maxLagSamples`;
  // frequencies from `lowHz` to `highHz` count.
  GccPhat(std::size_t windowSamples, std::size_t maxLagSamples, double sampleRate, double lowHz,
          double highHz);
  ~GccPhat();
  GccPhat(const GccPhat&) = delete;
  GccPhat& operator=(const GccPhat&) = delete;

  CorrelationPeak correlate(std::span<const float> earlier, std::span<const float> later);

 private:
  void transform(std::span<const float> samples, void* spectrum);
  double correlationAt(std::ptrdiff_t lag) const;

  std::size_t windowSamples_;
  std::size_t maxLag_;
  std::size_t size_;  // of the transforms: room for the window and the lags without wrapping
  std::size_t lowBin_;
  std::size_t highBin_;
  double* samples_;
  void* earlierSpectrum_;  // fftw_complex arrays, kept out of this header
  void* laterSpectrum_;
  double* correlation_;
  void* forward_;
  void* inverse_;
};

}  // namespace mirevo::inspect
