// Keeps one recorded stream on the host clock: its audio comes at the
// device's rate, which may be off the nominal rate by up to a few hundred
// ppm (a USB microphone's crystal), and goes out at the nominal rate on the
// host clock, so that its frame count tracks host time over hours.
//
// The device's rate is measured from the server's timing reports
// (DeviceRate). While the rate is not known to be off nominal, the audio
// goes through as it came: no copy, nothing computed. Once it is
// (kEngageMargin, kEngageSeconds), the audio
// is resampled (ClockResampler), as PulseAudio's loopback does: the ratio
// follows the measured rate, with a small correction of the time the output
// has gained or lost against the host clock so far (its time error),
// spread over kCorrectionSeconds and never faster than kMaxCorrection; the
// error the audio gathered before the rate was known is taken back that way
// too. The ratio moves towards that gradually (kMaxRatioChange). Once
// resampling, it goes on until reset().
//
// The time error is how much more host time the input consumed stands for
// (at the measured rate) than the output handed out (at the nominal rate).
// Every frame given counts as one of the device's: silence filled in for a
// loss counts as the frames lost, and reports count frames the same way.
//
// Threads: not synchronised; one thread uses it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/pulse/ClockResampler.hpp"
#include "platform/pulse/DeviceRate.hpp"

namespace mirevo::platform::pulse {

class RateFollower {
 public:
  // Resampling begins once the rate is off nominal by more than this many
  // times its uncertainty (a device on the host clock must not be resampled
  // because its estimate strayed once), and passing the audio through would
  // have moved it by more than kEngageSeconds.
  static constexpr double kEngageMargin = 2.0;
  static constexpr double kEngageSeconds = 0.0002;
  static constexpr double kCorrectionSeconds = 5.0;
  // 1 ms per second: a pitch change of 1.7 cents, which nobody hears.
  static constexpr double kMaxCorrection = 0.001;
  // How fast the ratio may change, per second of audio: a sudden change of
  // rate spreads a tone's spectrum (a step of 1000 ppm puts a spur at -45 dB
  // 10 Hz from a 1 kHz tone); a ramp does not.
  static constexpr double kMaxRatioChange = 0.0002;

  // `countsLosses`: as DeviceRate's.
  RateFollower(std::size_t channels, double nominalRate, bool countsLosses);

  // A timing report: at `hostSeconds` the device had written `frames`, in
  // the count of the frames given to follow().
  void report(double hostSeconds, std::int64_t frames);
  // The next interleaved frames of the stream; answers them on the host
  // clock: `input` itself while the rate is nominal, else a span of an
  // internal buffer, valid until the next call.
  std::span<const float> follow(std::span<const float> input);

  bool resampling() const { return resampler_.started(); }
  const DeviceRate& rate() const { return rate_; }
  // Seconds the output is behind the host clock (positive: it has fewer
  // frames than the time the input stood for), by the measured rate.
  double timeErrorSeconds() const;
  // Frames given and handed out since the start.
  std::int64_t inputFrames() const { return inputFrames_; }
  std::int64_t outputFrames() const { return outputFrames_; }
  // Where the next output frame lies in the input, in frames since the start.
  double inputPosition() const { return position_; }
  // Starts anew: another stream of the device, or of another device.
  void reset();

 private:
  bool shouldEngage() const;
  void engage();
  void steer(std::int64_t frames);
  void keepTail(std::span<const float> input);

  std::size_t channels_;
  double nominalRate_;
  DeviceRate rate_;
  ClockResampler resampler_;
  std::int64_t inputFrames_ = 0;
  std::int64_t outputFrames_ = 0;
  double position_ = 0.0;
  // The last frames passed through: the resampler's first history.
  std::vector<float> tail_;
  std::vector<float> output_;
};

}  // namespace mirevo::platform::pulse
