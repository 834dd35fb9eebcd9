// A microphone whose clock runs off the host's, beside speakers on the host
// clock, through the placers as the recorder drives them. A burst every
// 200 ms of the host clock is heard by both, wherever each device's count
// puts it: once the microphone's rate is measured, both give it one time
// within 2 ms; the buffers follow each other without a gap or an overlap;
// the speakers, on the host clock, are never resampled.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "PlacedOnsets.hpp"
#include "platform/pulse/ReadPlacer.hpp"

namespace mirevo::platform::pulse {
namespace {

constexpr double kRate = 48000.0;
constexpr double kStart = 1000.0;  // host seconds of the stream's frame 0
constexpr double kBurstEvery = 0.2;

// One device's stream through its placer.
struct Device {
  Device(double ppm, unsigned seed) : rate(kRate * (1.0 + ppm * 1e-6)), jitter(seed) {
    ReadPlacer::Settings settings;
    settings.sampleRate = static_cast<int>(kRate);
    settings.floorSeconds = kStart;
    placer = std::make_unique<ReadPlacer>(settings, [this](ReadPlacer::Placed placed) {
      onsets.add(placed.samples, placed.startSeconds);
      starts.push_back(placed.startSeconds);
      sizes.push_back(static_cast<std::int64_t>(placed.samples.size()));
    });
    placer->startDelivering();
  }

  // The frames the device has written by `host`.
  std::int64_t written(double host) const {
    return static_cast<std::int64_t>(std::floor((host - kStart) * rate));
  }
  // Reads what was written by `now`, marked with the bursts of the host
  // clock where the device's count puts them; answers whether the placer
  // wants reports.
  bool readUpTo(double now, double arrival) {
    const std::int64_t upTo = written(now);
    ReadPlacer::Read next;
    next.firstFrame = read;
    next.arrivalSeconds = arrival;
    next.samples.assign(static_cast<std::size_t>(upTo - read), 0.0f);
    for (double burst = std::ceil(static_cast<double>(read) / rate / kBurstEvery) * kBurstEvery;;
         burst += kBurstEvery) {
      const auto frame = static_cast<std::int64_t>(std::llround(burst * rate));
      if (frame >= upTo) break;
      if (frame >= read) next.samples[static_cast<std::size_t>(frame - read)] = 1.0f;
    }
    read = upTo;
    return placer->read(next);
  }
  // A report made at `moment`, counting what was written `late` before it
  // and a little jitter of the device's own.
  void report(double moment, double late) {
    std::uniform_real_distribution<double> share(0.0, 0.001);
    placer->report(ReadPlacer::Report{moment, written(moment - late - share(jitter)), 0.0});
  }

  double rate;
  std::mt19937 jitter;
  std::unique_ptr<ReadPlacer> placer;
  std::int64_t read = 0;
  testing::PlacedOnsets onsets{kRate};
  std::vector<double> starts;
  std::vector<std::int64_t> sizes;
};

// Records `seconds` of the speakers (on the host clock) and a microphone
// `ppm` off it, as the recorder drives the placers: reads every 100 ms of
// both, arriving a few milliseconds late; reports of both asked together
// whenever either wants them, answered 2 ms later, both counting from one
// moment of the server's cycle up to 12 ms before.
void record(Device& speakers, Device& microphone, double seconds, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> share(0.0, 1.0);
  double askedAt = -1e9;
  double reportDue = -1.0;
  for (double now = kStart + 0.1; now < kStart + seconds; now += 0.1) {
    if (reportDue > 0.0 && reportDue <= now) {
      const double late = 0.012 * share(random);
      speakers.report(reportDue, late);
      microphone.report(reportDue, late);
      reportDue = -1.0;
    }
    const double arrival = now + 0.003 * share(random);
    bool wanted = speakers.readUpTo(now, arrival);
    wanted = microphone.readUpTo(now, arrival + 0.0001) || wanted;
    const double every = std::min(speakers.placer->reportIntervalSeconds(),
                                  microphone.placer->reportIntervalSeconds());
    if (reportDue < 0.0 && (wanted || arrival - askedAt >= every)) {
      askedAt = arrival;
      reportDue = arrival + 0.002;
    }
  }
  speakers.placer->flush();
  microphone.placer->flush();
}

class ReadPlacerDrift : public ::testing::TestWithParam<double> {};

TEST_P(ReadPlacerDrift, ABurstHasOneTimeInBothSourcesAndTheBuffersFollowEachOther) {
  const double ppm = GetParam();
  Device speakers(0.0, 3);
  Device microphone(ppm, 5);
  record(speakers, microphone, 180.0, 7);
  const auto& heard = microphone.onsets.onsets;
  const auto& played = speakers.onsets.onsets;
  ASSERT_GE(heard.size(), 850u);
  ASSERT_GE(played.size(), 850u);
  // Until its rate is measured, the microphone's audio goes through as it
  // came and drifts as its clock does (never further); once it is, the
  // audio is resampled and the drift taken back. With reports as late as
  // these, that takes from 20 s (300 ppm) to about a minute (100 ppm); over
  // the last minute every burst has one time in both sources.
  constexpr double kMeasuredAfter = 120.0;
  double worstBefore = 0.0;
  double worstAfter = 0.0;
  std::size_t j = 0;
  for (const double onset : heard) {
    while (j + 1 < played.size() &&
           std::fabs(played[j + 1] - onset) < std::fabs(played[j] - onset)) {
      ++j;
    }
    const double apart = std::fabs(onset - played[j]);
    const double at = onset - kStart;
    if (at < kMeasuredAfter) {
      worstBefore = std::max(worstBefore, apart);
      EXPECT_LE(apart, std::fabs(ppm) * 1e-6 * at + 0.002) << "at " << at << " s";
    } else {
      worstAfter = std::max(worstAfter, apart);
      EXPECT_LE(apart, 0.002) << "at " << at << " s";
    }
  }
  std::cout << ppm << " ppm: furthest apart " << worstBefore * 1000.0 << " ms in the first "
            << kMeasuredAfter << " s, " << worstAfter * 1000.0 << " ms after\n";
  // A device on the host clock costs nothing: its audio is never resampled.
  EXPECT_FALSE(speakers.placer->resampling());
  EXPECT_EQ(microphone.placer->resampling(), ppm != 0.0);
  for (const Device* device : {&speakers, &microphone}) {
    for (std::size_t i = 1; i < device->starts.size(); ++i) {
      const double end = device->starts[i - 1] + static_cast<double>(device->sizes[i - 1]) / kRate;
      EXPECT_NEAR(device->starts[i], end, 1e-4) << "buffer " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ppm, ReadPlacerDrift, ::testing::Values(-300.0, -100.0, 0.0, 100.0, 300.0),
                         [](const auto& info) {
                           const double ppm = info.param;
                           return std::string(ppm < 0 ? "minus" : "plus") +
                                  std::to_string(static_cast<int>(std::fabs(ppm)));
                         });

}  // namespace
}  // namespace mirevo::platform::pulse
