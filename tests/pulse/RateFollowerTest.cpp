// A stream from a device whose clock drifts, kept on the host clock: a tone
// the device heard keeps its host time over an hour, the correction adds no
// spur a listener could hear (nor a click where it begins), and a device on
// the host's clock goes through untouched. Everything runs on simulated
// time: an hour of reports and reads takes a few seconds.
#include "platform/pulse/RateFollower.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <iostream>
#include <numbers>
#include <span>
#include <vector>

#include "DriftingDevice.hpp"

namespace mirevo::platform::pulse {
namespace {

using mirevo::testing::DriftingDevice;
using mirevo::testing::ReportLateness;

// Reports come with the reads, twice a second, unless a test asks for more.
constexpr double kReportEvery = 0.5;
constexpr double kReadSeconds = 0.020;
constexpr double kAmplitude = 0.5;

// Records `seconds` of a tone of `hertz` (on the host clock) from `device`
// through `follower`: reads of 20 ms, each as it arrives, with the reports
// made by then given first. `heard` gets each read's output.
void record(RateFollower& follower, DriftingDevice& device, double nominalRate, double seconds,
            double hertz, const std::function<void(std::span<const float>)>& heard,
            double reportEvery = kReportEvery) {
  const auto readFrames = static_cast<std::int64_t>(kReadSeconds * nominalRate);
  std::vector<float> read(static_cast<std::size_t>(readFrames));
  const std::complex<double> turn = std::polar(1.0, 2.0 * std::numbers::pi * hertz / device.rate());
  std::complex<double> phase = 1.0;
  double nextReport = DriftingDevice::kStartSeconds + reportEvery;
  for (std::int64_t first = 0;
       device.capturedSeconds(static_cast<double>(first)) < DriftingDevice::kStartSeconds + seconds;
       first += readFrames) {
    const double arrival = device.capturedSeconds(static_cast<double>(first + readFrames));
    for (; nextReport <= arrival; nextReport = device.nextReport(nextReport, reportEvery)) {
      follower.report(nextReport, device.reportedFrames(nextReport));
    }
    if (hertz > 0.0) {
      for (float& sample : read) {
        sample = static_cast<float>(kAmplitude * phase.imag());
        phase *= turn;
      }
      phase /= std::abs(phase);
    }
    heard(follower.follow(read));
  }
}

// How far the tone in the output is from where the host clock puts it, in
// one-second windows that start at the asked output seconds: output frame m
// should hold the tone as it sounded at m / rate after the start.
class ToneTime {
 public:
  ToneTime(double rate, double hertz, std::vector<double> windowsAt)
      : rate_(rate), omega_(2.0 * std::numbers::pi * hertz / rate), windowsAt_(windowsAt) {}

  void add(std::span<const float> samples) {
    for (const float sample : samples) {
      const double at = static_cast<double>(frame_) / rate_;
      if (next_ < windowsAt_.size() && at >= windowsAt_[next_]) {
        const double phase = omega_ * static_cast<double>(frame_);
        sine_ += sample * std::sin(phase);
        cosine_ += sample * std::cos(phase);
        if (at + 1.0 / rate_ >= windowsAt_[next_] + 1.0) {
          errors_.push_back(std::atan2(cosine_, sine_) / (omega_ * rate_));
          sine_ = cosine_ = 0.0;
          ++next_;
        }
      }
      ++frame_;
    }
  }
  // Seconds the tone is late in each window, in the order asked.
  const std::vector<double>& errors() const { return errors_; }

 private:
  double rate_;
  double omega_;
  std::vector<double> windowsAt_;
  std::size_t next_ = 0;
  std::int64_t frame_ = 0;
  double sine_ = 0.0;
  double cosine_ = 0.0;
  std::vector<double> errors_;
};

TEST(RateFollower, KeepsATonesTimeOnTheHostClockForAnHour) {
  // At 4 kHz, so that an hour takes a few seconds (reports count whole
  // frames, so that a lower rate would make them later). A 20 Hz tone tells
  // errors up to 25 ms apart.
  constexpr double kRate = 4000.0;
  constexpr double kHertz = 20.0;
  std::vector<double> windows;
  for (double at = 0.0; at < 120.0; at += 2.0) windows.push_back(at);
  for (double at = 120.0; at < 300.0; at += 10.0) windows.push_back(at);
  for (double at = 300.0; at < 3598.0; at += 30.0) windows.push_back(at);
  struct Reports {
    const char* name;
    ReportLateness lateness;
    double every;
    std::vector<double> ppms;
  };
  const std::vector<Reports> reportses{
      // A source that posts what it has at once (a pipe source fed every
      // 5 ms), a report with each read.
      {"late by up to 5 ms, twice a second",
       {0.005, 0.05, 0.030, 0.0},
       0.5,
       {300.0, -300.0, 1000.0}},
      // A processing cycle late, now and then more; reports asked for more
      // often.
      {"late by up to 20 ms, five times a second", {0.020, 0.05, 0.030, 0.0}, 0.2, {300.0, -100.0}},
  };
  for (const auto& [name, lateness, every, ppms] : reportses) {
    for (const double ppm : ppms) {
      SCOPED_TRACE(::testing::Message() << ppm << " ppm, reports " << name);
      DriftingDevice device(kRate, ppm, lateness);
      RateFollower follower(1, kRate, true);
      ToneTime tone(kRate, kHertz, windows);
      record(
          follower, device, kRate, 3600.0, kHertz, [&](auto samples) { tone.add(samples); }, every);
      ASSERT_TRUE(follower.resampling());
      ASSERT_EQ(tone.errors().size(), windows.size());
      // The worst error in the first two minutes, from then to five, and from
      // then to the hour.
      double worst[3] = {0.0, 0.0, 0.0};
      double settledAt = 0.0;
      for (std::size_t i = 0; i < windows.size(); ++i) {
        const double error = std::fabs(tone.errors()[i]);
        const int stage = windows[i] < 120.0 ? 0 : windows[i] < 300.0 ? 1 : 2;
        worst[stage] = std::max(worst[stage], error);
        if (stage == 0 && error > 0.0005) settledAt = windows[i] + 1.0;
      }
      std::cout << ppm << " ppm, reports " << name << ": the tone's time error at most "
                << worst[0] * 1000.0 << " ms in the first two minutes (within 0.5 ms from "
                << settledAt << " s), " << worst[1] * 1000.0 << " ms to five, " << worst[2] * 1000.0
                << " ms from then to an hour; the rate off by "
                << follower.rate().estimate()->ppm - ppm << " ppm at the end\n";
      // Before the rate is known, the audio drifts as it came. Once it is,
      // the error gathered is taken back within a minute or so; while the
      // estimate still improves, the output moves with it, and from five
      // minutes on it keeps host time closely for the rest of the hour.
      EXPECT_LE(settledAt, 120.0);
      EXPECT_LE(worst[1], 0.001);
      EXPECT_LE(worst[2], 0.0005);
    }
  }
}

// Spurs of a tone: the loudest component of the spectrum farther than 10 Hz
// from the tone, in dB against the tone, through a 4-term Blackman-Harris
// window (side lobes at -92 dB).
double loudestSpurDb(std::span<const float> samples, double rate, double hertz) {
  std::size_t size = 1;
  while (size * 2 <= samples.size()) size *= 2;
  std::vector<std::complex<double>> bins(size);
  for (std::size_t i = 0; i < size; ++i) {
    const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(size);
    const double window =
        0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    bins[i] = samples[i] * window;
  }
  // In-place radix-2 FFT.
  for (std::size_t i = 1, j = 0; i < size; ++i) {
    std::size_t bit = size >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(bins[i], bins[j]);
  }
  for (std::size_t length = 2; length <= size; length <<= 1) {
    const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi / length);
    for (std::size_t start = 0; start < size; start += length) {
      std::complex<double> w = 1.0;
      for (std::size_t k = 0; k < length / 2; ++k) {
        const auto even = bins[start + k];
        const auto odd = bins[start + k + length / 2] * w;
        bins[start + k] = even + odd;
        bins[start + k + length / 2] = even - odd;
        w *= turn;
      }
    }
  }
  const double binHertz = rate / static_cast<double>(size);
  double tone = 0.0;
  double spur = 0.0;
  for (std::size_t k = 1; k < size / 2; ++k) {
    const double power = std::norm(bins[k]);
    if (std::fabs(static_cast<double>(k) * binHertz - hertz) <= 10.0) {
      tone = std::max(tone, power);
    } else {
      spur = std::max(spur, power);
    }
  }
  return 10.0 * std::log10(spur / tone);
}

TEST(RateFollower, A1kHzToneThroughTheCorrectionKeepsItsSpursBelow60Db) {
  constexpr double kRate = 48000.0;
  constexpr double kHertz = 1000.0;
  for (const double ppm : {300.0, -300.0, 1000.0}) {
    SCOPED_TRACE(::testing::Message() << ppm << " ppm");
    DriftingDevice device(kRate, ppm);
    RateFollower follower(1, kRate, true);
    std::vector<float> output;
    std::size_t engagedAt = 0;
    record(follower, device, kRate, 90.0, kHertz, [&](auto samples) {
      if (engagedAt == 0 && follower.resampling()) engagedAt = output.size();
      output.insert(output.end(), samples.begin(), samples.end());
    });
    ASSERT_GT(engagedAt, 32768u) << "the follower began resampling";
    // Where the resampling begins, while it takes back the error gathered
    // before, and at the end.
    const std::span<const float> all(output);
    const double atStart = loudestSpurDb(all.subspan(engagedAt - 32768, 65536), kRate, kHertz);
    const double catchingUp = loudestSpurDb(all.subspan(engagedAt + 48000, 65536), kRate, kHertz);
    const double settled = loudestSpurDb(all.last(65536), kRate, kHertz);
    std::cout << ppm << " ppm: loudest spur " << atStart << " dB where resampling begins (at "
              << static_cast<double>(engagedAt) / kRate << " s), " << catchingUp
              << " dB a second later, " << settled << " dB at the end\n";
    EXPECT_LT(atStart, -60.0);
    EXPECT_LT(catchingUp, -60.0);
    EXPECT_LT(settled, -60.0);
  }
}

TEST(RateFollower, PassesADeviceOnTheHostClockThroughUntouchedForAnHour) {
  constexpr double kRate = 4000.0;
  const std::vector<ReportLateness> latenesses{{0.020, 0.05, 0.030, 0.0}, {0.005, 0.0, 0.0, 0.025}};
  for (std::size_t model = 0; model < latenesses.size(); ++model) {
    SCOPED_TRACE(::testing::Message() << "lateness model " << model);
    DriftingDevice device(kRate, 0.0, latenesses[model], static_cast<unsigned>(model + 7));
    RateFollower follower(2, kRate, model == 0);
    std::vector<float> read(static_cast<std::size_t>(kReadSeconds * kRate) * 2, 0.25f);
    double nextReport = DriftingDevice::kStartSeconds + kReportEvery;
    std::size_t changed = 0;
    const auto readFrames = static_cast<std::int64_t>(read.size() / 2);
    for (std::int64_t first = 0; first < static_cast<std::int64_t>(3600 * kRate);
         first += readFrames) {
      const double arrival = device.capturedSeconds(static_cast<double>(first + readFrames));
      for (; nextReport <= arrival; nextReport = device.nextReport(nextReport, kReportEvery)) {
        follower.report(nextReport, device.reportedFrames(nextReport));
      }
      const auto out = follower.follow(read);
      if (out.data() != read.data() || out.size() != read.size()) ++changed;
    }
    EXPECT_EQ(changed, 0u) << "reads not handed back as they came";
    EXPECT_FALSE(follower.resampling());
    EXPECT_EQ(follower.outputFrames(), follower.inputFrames());
  }
}

TEST(RateFollower, StartsAnewAfterReset) {
  constexpr double kRate = 8000.0;
  DriftingDevice device(kRate, 1000.0);
  RateFollower follower(1, kRate, true);
  record(follower, device, kRate, 60.0, 0.0, [](auto) {});
  ASSERT_TRUE(follower.resampling());
  follower.reset();
  EXPECT_FALSE(follower.resampling());
  EXPECT_FALSE(follower.rate().estimate());
  std::vector<float> read(160, 0.1f);
  EXPECT_EQ(follower.follow(read).data(), read.data());
  EXPECT_EQ(follower.outputFrames(), 160);
}

}  // namespace
}  // namespace mirevo::platform::pulse
