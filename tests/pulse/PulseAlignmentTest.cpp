// The built agent on a private server: one sound that both sources hear at
// the same instant carries the same time in both. The microphone is a remap
// source of the speakers' monitor, so that it hears exactly what the
// system's audio holds, at the same moment; short tone bursts give sharp
// onsets to time in each source's chunks.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <vector>

#include "AgentEvents.hpp"
#include "AgentProcess.hpp"
#include "PrivatePulse.hpp"

namespace mirevo::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char* kHeardSpeakers = "mirevo_speakers_heard";
// How far apart the two times may be. Each is rounded to whole milliseconds
// in each source (a millisecond of the bound).
constexpr double kAlignedMs = 2.0;
// A PipeWire server that misses its processing cycles under load drops
// whole cycles from one stream and not the other. The agent fills the loss
// with silence once the server's reports tell it, a few reads later; the
// audio handed over before that keeps the time it had. So a stretch of
// onsets may be apart for that long, and no longer.
constexpr double kLongestApartMs = 2000.0;
// A burst every 200 ms.
constexpr double kBurstPeriodMs = 200.0;

struct Offset {
  double atMs;  // the onset in `later`
  double ms;    // how much after the nearest onset of `earlier`
};

// For each onset of `later`, how much after the nearest onset of `earlier`
// it lies, when that is within half the bursts' period.
std::vector<Offset> offsetsMs(const std::vector<double>& earlier,
                              const std::vector<double>& later) {
  std::vector<Offset> offsets;
  for (const double onset : later) {
    const double* nearest = nullptr;
    for (const double& candidate : earlier) {
      if (nearest == nullptr || std::fabs(candidate - onset) < std::fabs(*nearest - onset)) {
        nearest = &candidate;
      }
    }
    if (nearest != nullptr && std::fabs(onset - *nearest) < kBurstPeriodMs / 2) {
      offsets.push_back({onset, onset - *nearest});
    }
  }
  return offsets;
}

class PulseAlignment : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pulseaudioInstalled()) GTEST_SKIP() << "pulseaudio, pactl, pacat or sox is not installed";
    server_ = std::make_unique<PrivatePulse>();
    ASSERT_TRUE(server_->running()) << "the private audio server did not start"
                                    << ": " << server_->startFailure();
    ASSERT_TRUE(server_->pactl(std::string("load-module module-remap-source "
                                           "master=mirevo_speakers.monitor source_name=") +
                               kHeardSpeakers));
    agent_ = std::make_unique<AgentProcess>(MIREVO_AGENT_PATH);
  }

  void TearDown() override {
    if (!agent_) return;
    EXPECT_EQ(agent_->finish(10s), 0);
    EXPECT_EQ(agent_->standardError(), "");
  }

  std::unique_ptr<PrivatePulse> server_;
  std::unique_ptr<AgentProcess> agent_;
};

TEST_F(PulseAlignment, ASoundBothSourcesHearCarriesOneTimeInBoth) {
  TonePlayer speakers("mirevo_speakers", TonePlayer::Bursts{});
  json start = {{"type", "start"}, {"sessionId", "s-1"}, {"jobId", "j-1"}};
  start["microphoneDeviceId"] = kHeardSpeakers;
  agent_->send(start);
  std::map<std::string, int> full;
  ASSERT_TRUE(agent_->until(
      [&](const json& event) {
        if (isType(event, "audio_chunk") && event.at("durationMs") == 1000) {
          ++full[event.at("source")];
        }
        return full["system"] >= 8 && full["microphone"] >= 8;
      },
      30s))
      << "eight full chunks of each source";
  agent_->send({{"type", "stop"}, {"sessionId", "s-1"}});
  ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));
  for (const auto& event : agent_->events()) EXPECT_FALSE(isType(event, "failed")) << event.dump();

  const auto system = burstOnsetsMs(chunksOf(agent_->events(), "system"));
  const auto microphone = burstOnsetsMs(chunksOf(agent_->events(), "microphone"));
  ASSERT_FALSE(microphone.empty());
  const auto offsets = offsetsMs(system, microphone);
  std::ostringstream seen;
  for (const auto& offset : offsets) seen << offset.ms << " ";
  std::cout << "microphone minus system (ms): " << seen.str() << "\n";
  EXPECT_GE(offsets.size(), 35u) << system.size() << " onsets in the system's audio, "
                                 << microphone.size() << " in the microphone's";

  std::size_t aligned = 0;
  double apartSinceMs = -1.0;  // where the current stretch apart began
  double longestApartMs = 0.0;
  for (const auto& offset : offsets) {
    if (std::fabs(offset.ms) <= kAlignedMs + 1e-6) {
      ++aligned;
      apartSinceMs = -1.0;
      continue;
    }
    if (apartSinceMs < 0.0) apartSinceMs = offset.atMs;
    longestApartMs = std::max(longestApartMs, offset.atMs - apartSinceMs + kBurstPeriodMs);
  }
  EXPECT_LE(longestApartMs, kLongestApartMs) << "microphone minus system (ms): " << seen.str();
  EXPECT_GE(aligned * 4, offsets.size() * 3) << "microphone minus system (ms): " << seen.str();
}

}  // namespace
}  // namespace mirevo::testing
