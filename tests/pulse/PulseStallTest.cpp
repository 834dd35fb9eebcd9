// The built agent on a private PulseAudio daemon while its parent stops
// reading for 150 s with tones playing: the agent's writes block, the server
// goes on delivering, and the audio waiting to be written stays within the
// agent's budget. Takes 150 s: labelled pulse-long.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "AgentEvents.hpp"
#include "AgentProcess.hpp"
#include "PrivatePulse.hpp"

namespace mirevo::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kStall = 150s;
constexpr long kPeakLimitKib = 48 * 1024;

TEST(PulseAgentStall, AParentThatStopsReadingCostsBoundedMemoryAndOneGapPerSource) {
  if (!pulseaudioInstalled()) GTEST_SKIP() << "pulseaudio, pactl, pacat or sox is not installed";
  PrivatePulse server;
  ASSERT_TRUE(server.running()) << "the private PulseAudio daemon did not start"
                                << ": " << server.startFailure();
  TonePlayer speakers("mirevo_speakers", 440.0);
  TonePlayer microphone("mirevo_mic_line", 1000.0);
  AgentProcess agent(MIREVO_AGENT_PATH);
  agent.send({{"type", "start"}, {"sessionId", "s-1"}, {"jobId", "j-1"}});
  std::map<std::string, int> full;
  ASSERT_TRUE(agent.until(
      [&](const json& event) {
        if (isType(event, "audio_chunk") && event.at("durationMs") == 1000) {
          ++full[event.at("source")];
        }
        return full["system"] >= 2 && full["microphone"] >= 2;
      },
      15s));

  // The parent stops reading.
  std::this_thread::sleep_for(kStall);
  const auto resumed = SteadyClock::now();

  // Reading again: the waiting audio comes first, then, after one gap per
  // source, live audio, within a deadline. How soon is printed, not
  // asserted: it is mostly the time this test takes to read and parse the
  // backlog, which a loaded machine stretches past any fixed bound.
  std::map<std::string, int> lastEnd;
  std::map<std::string, SteadyClock::duration> liveAfter;
  ASSERT_TRUE(agent.until(
      [&](const json& event) {
        if (!isType(event, "audio_chunk")) return false;
        const std::string source = event.at("source");
        const int start = event.at("startedAtMs");
        if (lastEnd.count(source) != 0 && start - lastEnd[source] > 100 &&
            liveAfter.count(source) == 0) {
          liveAfter[source] = SteadyClock::now() - resumed;
        }
        lastEnd[source] = start + event.at("durationMs").get<int>();
        return liveAfter.size() == 2;
      },
      30s))
      << "live audio of both sources after the gap";
  agent.send({{"type", "stop"}, {"sessionId", "s-1"}});
  ASSERT_TRUE(agent.until([](const json& e) { return isType(e, "completed"); }, 10s));
  EXPECT_EQ(agent.finish(10s), 0);
  EXPECT_EQ(agent.standardError(), "");

  std::cout << "peak resident memory: " << agent.peakResidentKiB() << " KiB\n";
  EXPECT_GT(agent.peakResidentKiB(), 0);
  EXPECT_LT(agent.peakResidentKiB(), kPeakLimitKib);
  for (const auto& event : agent.events()) EXPECT_FALSE(isType(event, "failed")) << event.dump();
  for (const char* source : {"system", "microphone"}) {
    SCOPED_TRACE(source);
    const auto chunks = chunksOf(agent.events(), source);
    for (std::size_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(chunks[i].at("sequence"), i);
    const auto gaps = breaksOf(chunks);
    std::cout << source << ": " << chunks.size() << " chunks, breaks (ms) "
              << ::testing::PrintToString(gaps) << ", live audio "
              << std::chrono::duration_cast<std::chrono::milliseconds>(liveAfter[source]).count()
              << " ms after reading again\n";
    for (std::size_t i = 1; i < chunks.size(); ++i) {
      const auto& before = chunks[i - 1];
      const int end = before.at("startedAtMs").get<int>() + before.at("durationMs").get<int>();
      if (std::abs(chunks[i].at("startedAtMs").get<int>() - end) <= 100) continue;
      std::cout << "  break after chunk " << before.at("sequence") << " ("
                << before.at("startedAtMs") << " ms, " << before.at("durationMs")
                << " ms long): next at " << chunks[i].at("startedAtMs") << " ms\n";
    }
    ASSERT_EQ(gaps.size(), 1u);
    // Audio was dropped, less than the stall.
    EXPECT_GT(gaps[0], 10000);
    EXPECT_LT(gaps[0], std::chrono::duration_cast<std::chrono::milliseconds>(kStall).count());
  }
}

}  // namespace
}  // namespace mirevo::testing
