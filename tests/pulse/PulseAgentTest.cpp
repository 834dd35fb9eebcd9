// The built agent on a private PulseAudio daemon: what the parent sees of
// devices, recordings and failures on this platform.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <map>
#include <thread>

#include "AgentEvents.hpp"
#include "AgentProcess.hpp"
#include "PrivatePulse.hpp"
#include "RecordedAudio.hpp"

namespace mirevo::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const json kStart = {{"type", "start"}, {"sessionId", "s-1"}, {"jobId", "j-1"}};
const json kStop = {{"type", "stop"}, {"sessionId", "s-1"}};

std::vector<float> floatsOf(const json& chunk) {
  std::vector<float> samples;
  for (const auto sample : chunkSamples(chunk)) samples.push_back(sample / 32767.0f);
  return samples;
}

class PulseAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pulseaudioInstalled()) GTEST_SKIP() << "pulseaudio, pactl, pacat or sox is not installed";
    server_ = std::make_unique<PrivatePulse>();
    ASSERT_TRUE(server_->running()) << "the private PulseAudio daemon did not start";
    agent_ = std::make_unique<AgentProcess>(MIREVO_AGENT_PATH);
  }

  void TearDown() override {
    if (!agent_) return;
    EXPECT_EQ(agent_->finish(10s), 0);
    EXPECT_EQ(agent_->standardError(), "");
  }

  // Counts full chunks per source until each has `wanted` of them.
  bool recordFullChunks(int wanted, std::chrono::milliseconds limit = 15s) {
    std::map<std::string, int> full;
    return agent_
        ->until(
            [&](const json& event) {
              if (isType(event, "audio_chunk") && event.at("durationMs") == 1000) {
                ++full[event.at("source")];
              }
              return full["system"] >= wanted && full["microphone"] >= wanted;
            },
            limit)
        .has_value();
  }

  std::unique_ptr<PrivatePulse> server_;
  std::unique_ptr<AgentProcess> agent_;
};

TEST_F(PulseAgent, ListsTheServersMicrophonesWithTheDefaultMarked) {
  agent_->send({{"type", "list_devices"}});
  const auto devices = agent_->next(5s);
  ASSERT_TRUE(devices);
  std::vector<json> expected;
  for (const auto& source : json::parse(*server_->pactl("-f json list sources"))) {
    if (!source.value("monitor_source", "").empty()) continue;
    expected.push_back({{"id", source.at("name")},
                        {"isDefault", source.at("name") == "mirevo_mic"},
                        {"kind", "audioinput"},
                        {"label", source.at("description")}});
  }
  EXPECT_EQ(*devices, json({{"devices", expected}, {"type", "devices"}}));
  EXPECT_EQ(expected.size(), 2u);
}

TEST_F(PulseAgent, RecordsTheSpeakersAndTheMicrophoneInOneSecondChunks) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  TonePlayer microphone("mirevo_mic_line", 1000.0);
  agent_->send(kStart);
  ASSERT_TRUE(recordFullChunks(3)) << "three full chunks of each source";
  agent_->send(kStop);
  ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));

  const std::map<std::string, double> hertz{{"system", 440.0}, {"microphone", 1000.0}};
  for (const auto& [source, tone] : hertz) {
    SCOPED_TRACE(source);
    const auto chunks = chunksOf(agent_->events(), source.c_str());
    for (std::size_t i = 1; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].at("sequence"), i);
      if (chunks[i - 1].at("durationMs") == 1000 && chunks[i].at("durationMs") == 1000) {
        EXPECT_EQ(
            chunks[i].at("startedAtMs").get<int>() - chunks[i - 1].at("startedAtMs").get<int>(),
            1000);
      }
    }
    // The last full chunk holds the tone, at its level.
    const json* last = nullptr;
    for (const auto& chunk : chunks) {
      if (chunk.at("durationMs") == 1000) last = &chunk;
    }
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->at("sampleRate"), 48000);
    const auto samples = floatsOf(*last);
    ASSERT_EQ(samples.size(), 48000u);
    EXPECT_NEAR(frequencyOf(samples, 48000.0), tone, tone * 0.01);
    EXPECT_NEAR(rmsOf(samples), recordedToneRms(0.5), 0.03);
  }

  // The heartbeat while both tones play: the last one before the stop.
  const json* status = nullptr;
  for (const auto& event : agent_->events()) {
    if (isType(event, "status")) status = &event;
  }
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->at("sessionId"), "s-1");
  EXPECT_EQ(status->at("systemAudioState"), "active");
  EXPECT_EQ(status->at("microphoneAudioState"), "active");
  EXPECT_EQ(status->at("message"), "Recording microphone and system audio.");
  // A tone of RMS 0.35 reads as full level.
  EXPECT_EQ(status->at("systemLevel").get<double>(), 1.0);
  EXPECT_EQ(status->at("microphoneLevel").get<double>(), 1.0);
}

TEST_F(PulseAgent, RecordsTheRequestedSecondMicrophone) {
  TonePlayer first("mirevo_mic_line", 1000.0);
  TonePlayer second("mirevo_mic2_line", 660.0);
  json start = kStart;
  start["microphoneDeviceId"] = "mirevo_mic2";
  agent_->send(start);
  // The second full chunk: the first may begin before the tones reach the
  // server (PipeWire starts a player's stream later than PulseAudio).
  int full = 0;
  ASSERT_TRUE(agent_->until(
      [&full](const json& e) {
        return isChunkOf(e, "microphone") && e.at("durationMs") == 1000 && ++full == 2;
      },
      10s));
  EXPECT_NEAR(frequencyOf(floatsOf(agent_->events().back()), 48000.0), 660.0, 7.0);
  agent_->send(kStop);
  ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));
}

struct StartFailure {
  const char* name;
  const char* setUp;  // pactl arguments, or "kill" to stop the server
  const char* microphone;
  const char* message;
};

class PulseAgentStartFailure : public PulseAgent,
                               public ::testing::WithParamInterface<StartFailure> {};

TEST_P(PulseAgentStartFailure, ReportsTheReasonThenCleansUp) {
  const auto& failure = GetParam();
  if (std::string(failure.setUp) == "kill") {
    server_->kill();
  } else if (*failure.setUp != '\0') {
    ASSERT_TRUE(server_->pactl(failure.setUp));
  }
  json start = kStart;
  if (*failure.microphone != '\0') start["microphoneDeviceId"] = failure.microphone;
  agent_->send(start);
  const auto failed = agent_->next(10s);
  ASSERT_TRUE(failed);
  EXPECT_EQ(*failed,
            json({{"message", failure.message}, {"sessionId", "s-1"}, {"type", "failed"}}));
  const auto completed = agent_->next(10s);
  ASSERT_TRUE(completed);
  EXPECT_EQ(*completed, json({{"sessionId", "s-1"}, {"type", "completed"}}));
}

void PrintTo(const StartFailure& failure, std::ostream* out) {
  *out << failure.name;
}

INSTANTIATE_TEST_SUITE_P(
    Causes, PulseAgentStartFailure,
    ::testing::Values(StartFailure{"unknownMicrophone", "", "no_such_microphone",
                                   "The selected microphone is no longer available."},
                      StartFailure{"noSinks", "unload-module module-null-sink", "",
                                   "An active macOS display is required for system audio capture."},
                      StartFailure{"noServer", "kill", "", "Connection refused"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PulseAgent, ARemovedMicrophoneEndsTheRecordingWithOneFailure) {
  TonePlayer microphone("mirevo_mic_line", 1000.0);
  agent_->send(kStart);
  ASSERT_TRUE(agent_->until([](const json& e) { return isChunkOf(e, "microphone"); }, 10s));
  ASSERT_TRUE(server_->pactl("unload-module module-remap-source"));
  const auto failed = agent_->until([](const json& e) { return isType(e, "failed"); }, 10s);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->at("sessionId"), "s-1");
  EXPECT_FALSE(failed->at("message").get<std::string>().empty());
  // Nothing of the session follows: no chunk, and no heartbeat, which would
  // come within a second.
  const auto after = agent_->next(1500ms);
  EXPECT_FALSE(after.has_value()) << after->dump();
  agent_->send(kStop);
  EXPECT_FALSE(agent_->next(1s).has_value());
}

TEST_F(PulseAgent, ASuspendedSpeakerBreaksTheSystemChunkForTheGap) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  agent_->send(kStart);
  ASSERT_TRUE(agent_->until([](const json& e) { return isChunkOf(e, "system"); }, 10s));
  ASSERT_TRUE(server_->pactl("suspend-sink mirevo_speakers 1"));
  // The gap is what this test is about: a second without the speakers.
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(server_->pactl("suspend-sink mirevo_speakers 0"));
  ASSERT_TRUE(agent_->until(
      [](const json& e) { return isChunkOf(e, "system") && e.at("durationMs") == 1000; }, 10s));
  agent_->send(kStop);
  ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));

  const auto gaps = breaksOf(chunksOf(agent_->events(), "system"));
  if (onPipeWire()) {
    // PipeWire keeps a suspended sink's monitor running on its clock: the
    // second arrives as silence, in time, and no chunk breaks.
    EXPECT_EQ(gaps, std::vector<int>{});
    return;
  }
  ASSERT_EQ(gaps.size(), 1u) << ::testing::PrintToString(gaps);
  EXPECT_NEAR(gaps[0], 1000, 250);
}

TEST_F(PulseAgent, AnAgentThatIsNotScheduledForAWhileLosesNoTimeAndBreaksNoChunk) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  TonePlayer microphone("mirevo_mic_line", 1000.0);
  agent_->send(kStart);
  ASSERT_TRUE(recordFullChunks(1));
  // The server keeps what it captures meanwhile; the agent reads it in a
  // burst when it goes on.
  agent_->pause(700ms);
  ASSERT_TRUE(recordFullChunks(4));
  agent_->send(kStop);
  ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));

  for (const char* source : {"system", "microphone"}) {
    SCOPED_TRACE(source);
    const auto chunks = chunksOf(agent_->events(), source);
    EXPECT_EQ(breaksOf(chunks), std::vector<int>{});
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].at("durationMs"), 1000) << "chunk " << i;
    }
  }
}

}  // namespace
}  // namespace mirevo::testing
