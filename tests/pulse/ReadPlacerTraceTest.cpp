// The placement of reads, replayed from traces recorded on both servers
// (tests/pulse/record-traces.sh): every buffer handed over follows the one
// before without overlap, a gap is left only where the reads show audio
// missing, and a burst that the speakers' monitor and a remap of it heard at
// one moment has one time in both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PlacedOnsets.hpp"
#include "TimingTrace.hpp"
#include "platform/pulse/ReadPlacer.hpp"
#include "platform/pulse/TimingLimits.hpp"

namespace mirevo::platform::pulse {
namespace {

using testing::TimingTrace;
using Kind = TimingTrace::Event::Kind;

// A burst's onset is marked by this sample in the audio replayed; every other
// sample is silence.
constexpr float kOnsetMark = 1.0f;

struct Buffer {
  double startSeconds;
  std::int64_t frames;
};

// What one source's streams gave and were handed over, in order.
struct Source {
  std::vector<Buffer> buffers;
  testing::PlacedOnsets onsets{48000.0};  // where the placed onsets lie on the host clock
  struct Read {
    double arrivalSeconds;
    std::int64_t frames;
  };
  std::vector<Read> reads;
};

struct Replay {
  double rate = 48000.0;
  std::map<std::string, Source> sources;
};

Replay replay(const TimingTrace& trace) {
  Replay result;
  result.rate = trace.rate;
  std::map<int, std::unique_ptr<ReadPlacer>> placers;
  std::map<int, std::string> names;
  for (const auto& event : trace.events) {
    if (event.kind == Kind::stream) {
      ReadPlacer::Settings settings;
      settings.sampleRate = trace.rate;
      settings.floorSeconds = event.seconds;
      settings.countsLosses = trace.dropsCycles();
      Source& source = result.sources[event.source];
      names[event.stream] = event.source;
      placers[event.stream] =
          std::make_unique<ReadPlacer>(settings, [&source](ReadPlacer::Placed placed) {
            source.onsets.add(placed.samples, placed.startSeconds);
            source.buffers.push_back(
                Buffer{placed.startSeconds, static_cast<std::int64_t>(placed.samples.size())});
          });
      continue;
    }
    ReadPlacer& placer = *placers.at(event.stream);
    switch (event.kind) {
      case Kind::deliver:
        placer.startDelivering();
        break;
      case Kind::read: {
        ReadPlacer::Read read;
        read.firstFrame = event.first;
        read.arrivalSeconds = event.seconds;
        read.samples.assign(static_cast<std::size_t>(event.frames), 0.0f);
        for (const std::int64_t onset : event.onsets) {
          read.samples.at(static_cast<std::size_t>(onset - event.first)) = kOnsetMark;
        }
        if (placer.delivering()) {
          result.sources[names.at(event.stream)].reads.push_back({event.seconds, event.frames});
        }
        placer.read(read);
        break;
      }
      case Kind::report:
        placer.report(ReadPlacer::Report{event.seconds, event.first, event.latencySeconds});
        break;
      case Kind::end:
        placer.flush();
        placers.erase(event.stream);
        break;
      case Kind::stream:
        break;
    }
  }
  // A trace cut short ends where it was cut.
  for (auto& [id, placer] : placers) placer->flush();
  return result;
}

TimingTrace loadTrace(const std::string& name) {
  std::ifstream in(std::string(MIREVO_TRACES_DIR) + "/" + name + ".trace");
  if (!in) throw std::runtime_error("no trace " + name);
  return testing::readTimingTrace(in);
}

// The longest stretch of audio missing between consecutive reads, as their
// arrivals tell: the time between them beyond the audio the later one held.
double longestMissing(const Source& source) {
  double longest = 0.0;
  for (std::size_t i = 1; i < source.reads.size(); ++i) {
    const auto& read = source.reads[i];
    const double missing = read.arrivalSeconds - source.reads[i - 1].arrivalSeconds -
                           static_cast<double>(read.frames) / 48000.0;
    longest = std::max(longest, missing);
  }
  return longest;
}

struct Fixture {
  const char* name;
  // Gaps in the placed audio are expected: the source had none to give.
  bool audioMissing;
};

class ReadPlacerTrace : public ::testing::TestWithParam<Fixture> {};

// Each source's buffers follow each other without overlap (beyond the
// timeline's slew), and leave a gap only where the reads show audio missing.
void expectContinuous(const Replay& result, bool audioMissing) {
  for (const auto& [name, source] : result.sources) {
    SCOPED_TRACE(name);
    ASSERT_GE(source.buffers.size(), 10u);
    const double missing = longestMissing(source);
    if (!audioMissing) {
      EXPECT_LT(missing, TimingLimits::kGapSeconds) << "the trace shows audio missing";
    }
    for (std::size_t i = 1; i < source.buffers.size(); ++i) {
      const Buffer& before = source.buffers[i - 1];
      const double seconds = static_cast<double>(before.frames) / result.rate;
      const double step = source.buffers[i].startSeconds - (before.startSeconds + seconds);
      // The timeline follows drift by slewing at most this much.
      const double slew = TimingLimits::kMaxSlew * seconds + 1e-6;
      SCOPED_TRACE(::testing::Message() << "buffer " << i << " at "
                                        << source.buffers[i].startSeconds << ", step " << step);
      EXPECT_GE(step, -slew) << "overlaps the buffer before";
      // A gap needs audio missing from the reads, about as much.
      if (step > slew) {
        EXPECT_LE(step, missing + TimingLimits::kGapSeconds);
      }
      if (!audioMissing) {
        EXPECT_LE(step, slew);
      }
    }
  }
}

TEST_P(ReadPlacerTrace, BuffersFollowEachOtherAndGapsAreOnlyWhereAudioWasMissing) {
  const Replay result = replay(loadTrace(GetParam().name));
  ASSERT_EQ(result.sources.size(), 2u);
  expectContinuous(result, GetParam().audioMissing);
}

// How far the onsets of `later` lie from the nearest of `earlier`, for each
// within half the bursts' period (100 ms).
std::vector<std::pair<double, double>> offsets(const std::vector<double>& earlier,
                                               const std::vector<double>& later) {
  std::vector<std::pair<double, double>> result;
  for (const double onset : later) {
    const auto nearest = std::min_element(earlier.begin(), earlier.end(), [&](double a, double b) {
      return std::fabs(a - onset) < std::fabs(b - onset);
    });
    if (nearest != earlier.end() && std::fabs(*nearest - onset) < 0.1) {
      result.emplace_back(onset, onset - *nearest);
    }
  }
  return result;
}

TEST_P(ReadPlacerTrace, ABurstHeardByBothSourcesHasOneTimeInBoth) {
  const Replay result = replay(loadTrace(GetParam().name));
  const auto& system = result.sources.at("mirevo_speakers.monitor").onsets.onsets;
  const auto& heard = result.sources.at("mirevo_speakers_heard").onsets.onsets;
  const auto apart = offsets(system, heard);
  ASSERT_GE(apart.size(), 20u) << system.size() << " onsets in the monitor, " << heard.size()
                               << " in its remap";
  std::ostringstream seen;
  for (const auto& [at, ms] : apart) seen << ms * 1000.0 << " ";
  // Within 2 ms (the alignment the agent promises), except while a loss
  // that a PipeWire server dropped from one stream waits to be told by its
  // reports: that stretch ends within kLossTold.
  constexpr double kAligned = 0.002;
  constexpr double kLossTold = 2.0;
  double apartSince = -1.0;
  for (const auto& [at, offset] : apart) {
    if (std::fabs(offset) <= kAligned) {
      apartSince = -1.0;
      continue;
    }
    if (apartSince < 0.0) apartSince = at;
    EXPECT_LE(at - apartSince, kLossTold) << "offsets (ms): " << seen.str();
  }
  std::cout << GetParam().name << ": remap minus monitor (ms): " << seen.str() << "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Traces, ReadPlacerTrace,
    ::testing::Values(Fixture{"pulseaudio-quiet", false}, Fixture{"pipewire-quiet", false},
                      Fixture{"pulseaudio-load", false}, Fixture{"pipewire-load", false},
                      Fixture{"pulseaudio-suspend", true}, Fixture{"pipewire-suspend", true},
                      Fixture{"pulseaudio-restart", true}, Fixture{"pipewire-restart", true}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

// A pipe source written 300 ppm fast on a classic server (the writer is its
// clock), beside the speakers' monitor, both hearing bursts at the same
// real moments; the rig puts the speakers' a constant few tens of
// milliseconds later. Until the microphone's rate is measured its bursts
// drift by the clock's 0.3 ms a second; then its audio is resampled, the
// drift taken back, and the last 15 s are within 2 ms of where the two
// stood at the start. Disabled until the placer follows device clocks (the
// branch issue-24-follow does, but resamples monitors on the host clock as
// well); today the microphone moves by its clock's 0.3 ms a second.
TEST(ReadPlacerDriftTrace, AFastMicrophoneIsContinuous) {
  expectContinuous(replay(loadTrace("pulseaudio-drift")), false);
}

TEST(ReadPlacerDriftTrace,
     DISABLED_AFastMicrophoneIsBroughtBackToTheSpeakersOnceItsRateIsMeasured) {
  const Replay result = replay(loadTrace("pulseaudio-drift"));
  const auto& speakers = result.sources.at("mirevo_speakers.monitor").onsets.onsets;
  const auto& microphone = result.sources.at("mirevo_drifting_mic").onsets.onsets;
  const auto apart = offsets(speakers, microphone);
  ASSERT_GE(apart.size(), 200u);
  std::vector<double> first;
  for (const auto& [at, offset] : apart) {
    if (at - apart.front().first < 5.0) first.push_back(offset);
  }
  std::nth_element(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(first.size() / 2),
                   first.end());
  const double start = first[first.size() / 2];
  std::ostringstream seen;
  for (const auto& [at, offset] : apart) seen << (offset - start) * 1000.0 << " ";
  for (const auto& [at, offset] : apart) {
    if (apart.back().first - at > 15.0) continue;
    ASSERT_NEAR(offset, start, 0.002) << "moved (ms): " << seen.str();
  }
  std::cout << "pulseaudio-drift: microphone minus speakers, from the start (ms): " << seen.str()
            << "\n";
}

}  // namespace
}  // namespace mirevo::platform::pulse
