// The built agent on a private PulseAudio daemon: what the parent sees of
// devices, recordings and failures on this platform.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "AgentEvents.hpp"
#include "AgentProcess.hpp"
#include "ChunkSamples.hpp"
#include "PrivatePulse.hpp"
#include "ToneLevels.hpp"

namespace mirevo::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const json kStart = {{"type", "start"}, {"sessionId", "s-1"}, {"jobId", "j-1"}};
const json kStop = {{"type", "stop"}, {"sessionId", "s-1"}};

constexpr double kRate = 48000.0;

// A source's tone, and the tones that must not be heard with it (played into
// devices it must not record).
struct Heard {
  double tone;
  std::vector<double> without = {};
};

class PulseAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pulseaudioInstalled()) GTEST_SKIP() << "pulseaudio, pactl, pacat or sox is not installed";
    server_ = std::make_unique<PrivatePulse>();
    ASSERT_TRUE(server_->running()) << "the private PulseAudio daemon did not start"
                                    << ": " << server_->startFailure();
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

  // Waits until each source has sent a full chunk that holds its tone and
  // none of the tones it must be without, which tells from which device its
  // audio came.
  bool recordTones(std::map<std::string, Heard> heard, std::chrono::milliseconds limit = 15s) {
    return agent_
        ->until(
            [&](const json& event) {
              if (!isType(event, "audio_chunk") || event.at("durationMs") != 1000) return false;
              const auto found = heard.find(event.at("source"));
              if (found == heard.end()) return false;
              const auto samples = chunkSamples(event);
              if (tonesPresent(samples, kRate, {found->second.tone}) &&
                  tonesAbsent(samples, kRate, found->second.without)) {
                heard.erase(found);
              }
              return heard.empty();
            },
            limit)
        .has_value();
  }

  // Waits until `source` has sent a full chunk in which every tone of
  // `tones` is present at the level a tone of kMixAmplitude has when played
  // to one output alone (within kLevelDb: a tone recorded twice would be
  // 6 dB louder), and none of `without` is.
  bool recordMix(const char* source, const std::vector<double>& tones,
                 const std::vector<double>& without = {}, std::chrono::milliseconds limit = 15s) {
    return agent_
        ->until(
            [&](const json& event) {
              if (!isChunkOf(event, source) || event.at("durationMs") != 1000) return false;
              const auto samples = chunkSamples(event);
              if (!tonesPresent(samples, kRate, tones) || !tonesAbsent(samples, kRate, without)) {
                return false;
              }
              const auto levels = toneLevels(samples, kRate, tones);
              return std::all_of(levels.toneRms.begin(), levels.toneRms.end(), [](double rms) {
                return std::fabs(20.0 * std::log10(rms / recordedToneRms(kMixAmplitude))) <=
                       kLevelDb;
              });
            },
            limit)
        .has_value();
  }
  static constexpr double kLevelDb = 1.0;
  // Tones that the system's audio mixes are played softer: PipeWire's
  // monitors are 3 dB louder, and two tones of 0.5 would add up beyond full
  // scale, which the conversion to 16 bits clips.
  static constexpr double kMixAmplitude = 0.25;

  // Stops the recording and checks what no change of devices may break:
  // no failure, each source's chunks numbered without a gap, and none of
  // them overlapping the one before.
  void stopAndExpectOneUnbrokenRecording() {
    agent_->send(kStop);
    ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));
    for (const auto& event : agent_->events()) {
      EXPECT_FALSE(isType(event, "failed")) << event.dump();
    }
    for (const char* source : {"system", "microphone"}) {
      SCOPED_TRACE(source);
      const auto chunks = chunksOf(agent_->events(), source);
      EXPECT_TRUE(contiguous(chunks));
      EXPECT_EQ(overlapsOf(chunks), std::vector<int>{});
    }
  }

  // Each chunk of `source` so far: its sequence, time, length and the levels
  // of the tones `hertz`.
  std::string tonesOf(const char* source, const std::vector<double>& hertz) const {
    std::ostringstream text;
    for (const auto& chunk : chunksOf(agent_->events(), source)) {
      text << "\n"
           << chunk.at("sequence") << "@" << chunk.at("startedAtMs") << "+"
           << chunk.at("durationMs") << ": "
           << toneLevels(chunkSamples(chunk), kRate, hertz).describe(hertz);
    }
    return text.str();
  }

  bool hasSink(const std::string& name) const {
    const auto sinks = server_->pactl("list short sinks");
    return sinks && sinks->find(name + "\t") != std::string::npos;
  }

  std::string serverDefault(const char* what) const {
    std::string name = server_->pactl(std::string("get-default-") + what).value_or("");
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    return name;
  }

  // How many streams record the source `name`.
  int recordersOf(const std::string& name) const {
    std::istringstream sources(server_->pactl("list short sources").value_or(""));
    std::string index;
    for (std::string line; std::getline(sources, line);) {
      std::istringstream words(line);
      std::string number, source;
      words >> number >> source;
      if (source == name) index = number;
    }
    std::istringstream outputs(server_->pactl("list short source-outputs").value_or(""));
    int count = 0;
    for (std::string line; std::getline(outputs, line);) {
      std::istringstream words(line);
      std::string number, source;
      words >> number >> source;
      if (!index.empty() && source == index) ++count;
    }
    return count;
  }

  // Waits, polling the server, until `condition` holds or `limit` passes.
  static bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(100ms);
    }
    return true;
  }

  // Unloads the module that made the sink or source `name`, and nothing else.
  bool unloadModuleOf(const std::string& name) {
    std::istringstream modules(server_->pactl("list short modules").value_or(""));
    for (std::string line; std::getline(modules, line);) {
      std::istringstream words(line);
      std::string index;
      words >> index;
      for (std::string word; words >> word;) {
        if (word == "sink_name=" + name || word == "source_name=" + name) {
          return server_->pactl("unload-module " + index).has_value();
        }
      }
    }
    return false;
  }

  // Waits until the server's defaults are `sink` and `source` (PipeWire
  // applies a choice a moment after pactl returns).
  bool defaultsAre(const std::string& sink, const std::string& source) {
    return eventually(
        [&] { return serverDefault("sink") == sink && serverDefault("source") == source; }, 5s);
  }

  // Whether every full chunk of `source` after the first `skip` events holds
  // every tone of `tones` at the level a tone of kMixAmplitude has when
  // played to one output alone (within kLevelDb), and none of `without`.
  ::testing::AssertionResult everyFullChunkHolds(const char* source,
                                                 const std::vector<double>& tones,
                                                 const std::vector<double>& without,
                                                 std::size_t skip = 0) const {
    const auto& events = agent_->events();
    int checked = 0;
    for (std::size_t i = skip; i < events.size(); ++i) {
      const auto& chunk = events[i];
      if (!isChunkOf(chunk, source) || chunk.at("durationMs") != 1000) continue;
      ++checked;
      const auto samples = chunkSamples(chunk);
      const auto levels = toneLevels(samples, kRate, tones);
      const bool atLevel =
          std::all_of(levels.toneRms.begin(), levels.toneRms.end(), [](double rms) {
            return std::fabs(20.0 * std::log10(rms / recordedToneRms(kMixAmplitude))) <= kLevelDb;
          });
      if (!atLevel || !tonesAbsent(samples, kRate, without)) {
        return ::testing::AssertionFailure() << "chunk " << chunk.at("sequence") << ": "
                                             << levels.describe(tones) << tonesOf(source, tones);
      }
    }
    if (checked == 0) return ::testing::AssertionFailure() << "no full chunk of " << source;
    return ::testing::AssertionSuccess();
  }

  // The longest time in seconds that `source` was silent (below -60 dBFS in
  // 50 ms blocks) or had no audio between two chunks.
  double longestSilence(const char* source) const {
    double longest = 0.0;
    double silent = 0.0;
    double endMs = -1.0;
    for (const auto& chunk : chunksOf(agent_->events(), source)) {
      const double startMs = chunk.at("startedAtMs").get<double>();
      if (endMs >= 0.0 && startMs > endMs) silent += (startMs - endMs) / 1000.0;
      const auto samples = chunkSamples(chunk);
      constexpr std::size_t kBlock = 2400;
      for (std::size_t at = 0; at + kBlock <= samples.size(); at += kBlock) {
        double power = 0.0;
        for (std::size_t i = at; i < at + kBlock; ++i) power += double(samples[i]) * samples[i];
        const bool quiet = std::sqrt(power / kBlock) / 32768.0 < 0.001;
        silent = quiet ? silent + 0.05 : 0.0;
        longest = std::max(longest, silent);
      }
      endMs = startMs + chunk.at("durationMs").get<double>();
    }
    return longest;
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

  const std::map<std::string, std::pair<double, double>> hertz{{"system", {440.0, 1000.0}},
                                                               {"microphone", {1000.0, 440.0}}};
  for (const auto& [source, tones] : hertz) {
    const auto [tone, other] = tones;
    SCOPED_TRACE(source);
    const auto chunks = chunksOf(agent_->events(), source.c_str());
    // Audio from before the start is not delivered, so the first chunks do
    // not overlap either. Full chunks follow each other at one second, give
    // or take what the timeline may slew to follow clock drift (at most a
    // millisecond a second) and the rounding of each time to whole
    // milliseconds.
    constexpr int kSlewAndRoundingMs = 2;
    for (const int jump : breaksOf(chunks, kSlewAndRoundingMs)) EXPECT_GE(jump, 0);
    for (std::size_t i = 1; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].at("sequence"), i);
      if (chunks[i - 1].at("durationMs") == 1000 && chunks[i].at("durationMs") == 1000) {
        EXPECT_NEAR(
            chunks[i].at("startedAtMs").get<int>() - chunks[i - 1].at("startedAtMs").get<int>(),
            1000, kSlewAndRoundingMs);
      }
    }
    // The last full chunk holds the tone, at its level.
    const json* last = nullptr;
    for (const auto& chunk : chunks) {
      if (chunk.at("durationMs") == 1000) last = &chunk;
    }
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->at("sampleRate"), 48000);
    const auto samples = chunkSamples(*last);
    ASSERT_EQ(samples.size(), 48000u);
    EXPECT_TRUE(tonesPresent(samples, kRate, {tone}));
    EXPECT_TRUE(tonesAbsent(samples, kRate, {other}));
    const auto levels = toneLevels(samples, kRate, {tone});
    EXPECT_NEAR(levels.toneRms[0], recordedToneRms(0.5), 0.03) << levels.describe({tone});
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
  // A full chunk of the second one's tone (the first may begin before the
  // tones reach the server: PipeWire starts a player's stream later than
  // PulseAudio), and never the first one's.
  ASSERT_TRUE(recordTones({{"microphone", {660.0, {1000.0}}}}))
      << tonesOf("microphone", {660.0, 1000.0});
  agent_->send(kStop);
  ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));
  for (const auto& chunk : chunksOf(agent_->events(), "microphone")) {
    EXPECT_TRUE(tonesAbsent(chunkSamples(chunk), kRate, {1000.0})) << chunk.at("sequence");
  }
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

TEST_F(PulseAgent, TheSystemsAudioMovesToTheNewDefaultWhenTheRecordedOutputGoes) {
  const std::map<std::string, double> tones{
      {"mirevo_headphones", 880.0}, {"mirevo_mic_line", 1000.0}, {"mirevo_mic2_line", 660.0}};
  std::vector<std::unique_ptr<TonePlayer>> players;
  for (const auto& [sink, hertz] : tones) {
    ASSERT_TRUE(hasSink(sink));
    players.push_back(std::make_unique<TonePlayer>(sink, hertz, kMixAmplitude));
  }
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  agent_->send(kStart);
  // The headphones play too; the lines into the microphones are no outputs.
  ASSERT_TRUE(recordMix("system", {440.0, 880.0}, {1000.0, 660.0}))
      << tonesOf("system", {440.0, 880.0, 1000.0, 660.0});
  // As when a headset is unplugged.
  ASSERT_TRUE(unloadModuleOf("mirevo_speakers"));
  const auto now = tones.find(serverDefault("sink"));
  ASSERT_NE(now, tones.end()) << serverDefault("sink");
  // The new default output is recorded, whatever it is, and the headphones
  // still play; the server moves the speakers' player to the new default, so
  // 440 Hz may be heard there. A line into a microphone that is not the
  // default output is not heard.
  std::vector<double> heard{now->second};
  std::vector<double> others;
  for (const auto& [sink, hertz] : tones) {
    if (sink == "mirevo_headphones" && hertz != now->second) heard.push_back(hertz);
    if (sink != now->first && sink != "mirevo_headphones") others.push_back(hertz);
  }
  ASSERT_TRUE(recordMix("system", heard, others))
      << tonesOf("system", {440.0, 880.0, 1000.0, 660.0});
  stopAndExpectOneUnbrokenRecording();
}

TEST_F(PulseAgent, ADefaultMicrophoneThatGoesGivesWayToTheNewDefault) {
  TonePlayer first("mirevo_mic_line", 1000.0);
  TonePlayer second("mirevo_mic2_line", 660.0);
  TonePlayer speakers("mirevo_speakers", 440.0);
  agent_->send(kStart);
  ASSERT_TRUE(recordTones({{"microphone", {1000.0, {660.0}}}}))
      << tonesOf("microphone", {1000.0, 660.0});
  ASSERT_TRUE(unloadModuleOf("mirevo_mic"));
  ASSERT_EQ(serverDefault("source"), "mirevo_mic2");
  ASSERT_TRUE(recordTones({{"microphone", {660.0, {1000.0}}}, {"system", {440.0}}}))
      << tonesOf("microphone", {1000.0, 660.0});
  stopAndExpectOneUnbrokenRecording();
}

TEST_F(PulseAgent, ARemovedNamedMicrophoneEndsTheRecordingWithOneFailure) {
  TonePlayer microphone("mirevo_mic_line", 1000.0);
  json start = kStart;
  start["microphoneDeviceId"] = "mirevo_mic";
  agent_->send(start);
  ASSERT_TRUE(agent_->until([](const json& e) { return isChunkOf(e, "microphone"); }, 10s));
  ASSERT_TRUE(unloadModuleOf("mirevo_mic"));
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

TEST_F(PulseAgent, ARestartedServerIsRecordedOnInTheSameSequence) {
  {
    TonePlayer speakers("mirevo_speakers", 440.0);
    TonePlayer microphone("mirevo_mic_line", 1000.0);
    agent_->send(kStart);
    ASSERT_TRUE(recordTones({{"system", {440.0}}, {"microphone", {1000.0}}}));
    ASSERT_TRUE(server_->restart());
  }
  // New tones tell the new server's audio from the old one's.
  ASSERT_TRUE(hasSink("mirevo_speakers"));
  TonePlayer speakers("mirevo_speakers", 550.0);
  TonePlayer microphone("mirevo_mic_line", 770.0);
  ASSERT_TRUE(recordTones({{"system", {550.0, {440.0}}}, {"microphone", {770.0, {1000.0}}}}))
      << tonesOf("system", {550.0, 440.0}) << tonesOf("microphone", {770.0, 1000.0});
  stopAndExpectOneUnbrokenRecording();
  // The time without a server is a gap.
  const auto gaps = breaksOf(chunksOf(agent_->events(), "system"));
  ASSERT_FALSE(gaps.empty());
  EXPECT_GT(gaps.front(), 0);
}

TEST_F(PulseAgent, AServerGoneForGoodEndsTheRecordingWithOneFailureAfterTheWindow) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  agent_->send(kStart);
  ASSERT_TRUE(agent_->until([](const json& e) { return isChunkOf(e, "system"); }, 10s));
  const auto killed = std::chrono::steady_clock::now();
  server_->kill();
  const auto failed = agent_->until([](const json& e) { return isType(e, "failed"); }, 20s);
  ASSERT_TRUE(failed);
  EXPECT_EQ(*failed,
            json({{"message", "Connection terminated"}, {"sessionId", "s-1"}, {"type", "failed"}}));
  // It was tried again for ten seconds first.
  EXPECT_GE(std::chrono::steady_clock::now() - killed, 9s);
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

// The system's audio is everything the computer plays, whichever output
// plays it: each tone once, at its own level.
TEST_F(PulseAgent, TheSystemsAudioHoldsBothOutputsThatPlay) {
  ASSERT_TRUE(hasSink("mirevo_headphones"));
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  TonePlayer headphones("mirevo_headphones", 880.0, kMixAmplitude);
  TonePlayer microphone("mirevo_mic_line", 1000.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {440.0, 880.0}, {1000.0})) << tonesOf("system", {440.0, 880.0});
  ASSERT_TRUE(recordMix("microphone", {1000.0}, {440.0, 880.0}))
      << tonesOf("microphone", {1000.0, 440.0, 880.0});
  stopAndExpectOneUnbrokenRecording();
}

TEST_F(PulseAgent, TheSystemsAudioHoldsAnOutputThatIsNotTheDefault) {
  ASSERT_TRUE(hasSink("mirevo_headphones"));
  TonePlayer headphones("mirevo_headphones", 880.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {880.0})) << tonesOf("system", {880.0});
  stopAndExpectOneUnbrokenRecording();
}

TEST_F(PulseAgent, AnOutputJoinsTheSystemsAudioWhileItPlaysWithoutABreak) {
  ASSERT_TRUE(hasSink("mirevo_headphones"));
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {440.0}, {880.0})) << tonesOf("system", {440.0, 880.0});
  // While the default output plays alone, its monitor is the one stream.
  EXPECT_EQ(recordersOf("mirevo_speakers.monitor"), 1);
  EXPECT_EQ(recordersOf("mirevo_headphones.monitor"), 0);
  {
    TonePlayer headphones("mirevo_headphones", 880.0, kMixAmplitude);
    ASSERT_TRUE(recordMix("system", {440.0, 880.0})) << tonesOf("system", {440.0, 880.0});
    EXPECT_EQ(recordersOf("mirevo_headphones.monitor"), 1);
  }
  // Its last stream ended: it leaves a few seconds later.
  EXPECT_TRUE(eventually([&] { return recordersOf("mirevo_headphones.monitor") == 0; }, 10s));
  ASSERT_TRUE(recordMix("system", {440.0}, {880.0})) << tonesOf("system", {440.0, 880.0});
  stopAndExpectOneUnbrokenRecording();
  EXPECT_EQ(breaksOf(chunksOf(agent_->events(), "system")), std::vector<int>{});
}

TEST_F(PulseAgent, APlayingOutputThatIsUnpluggedIsHeardOnceWhereTheServerMovedItsPlayer) {
  ASSERT_TRUE(hasSink("mirevo_headphones"));
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  TonePlayer headphones("mirevo_headphones", 880.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {440.0, 880.0})) << tonesOf("system", {440.0, 880.0});
  ASSERT_TRUE(unloadModuleOf("mirevo_headphones"));
  ASSERT_FALSE(hasSink("mirevo_headphones"));
  // The server moves the headphones' player to the speakers: both tones go
  // on there, each at its own level.
  const auto unplugged = agent_->events().size();
  ASSERT_TRUE(agent_->until(
      [&, seen = std::size_t{0}](const json& event) mutable {
        return isChunkOf(event, "system") && ++seen > 1;
      },
      10s));
  ASSERT_GT(agent_->events().size(), unplugged);
  ASSERT_TRUE(recordMix("system", {440.0, 880.0})) << tonesOf("system", {440.0, 880.0});
  stopAndExpectOneUnbrokenRecording();
  EXPECT_EQ(breaksOf(chunksOf(agent_->events(), "system")), std::vector<int>{});
}

TEST_F(PulseAgent, ARemapOfTheDefaultOutputIsHeardOnceAtItsOwnLevel) {
  ASSERT_TRUE(server_->pactl(
      "load-module module-remap-sink sink_name=mirevo_remap master=mirevo_speakers"));
  ASSERT_TRUE(hasSink("mirevo_remap"));
  TonePlayer remapped("mirevo_remap", 660.0, kMixAmplitude);
  agent_->send(kStart);
  // Recorded through the speakers' monitor and through the remap's, it would
  // be 6 dB louder.
  ASSERT_TRUE(recordMix("system", {660.0})) << tonesOf("system", {660.0});
  EXPECT_EQ(recordersOf("mirevo_remap.monitor"), 0);
  stopAndExpectOneUnbrokenRecording();
}

TEST_F(PulseAgent, SwitchingTheDefaultWhileTwoOutputsPlayKeepsEachToneOnce) {
  ASSERT_TRUE(hasSink("mirevo_headphones"));
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  TonePlayer headphones("mirevo_headphones", 880.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {440.0, 880.0})) << tonesOf("system", {440.0, 880.0});
  ASSERT_TRUE(server_->pactl("set-default-sink mirevo_headphones"));
  const auto switched = agent_->events().size();
  // Whether or not the server moves the speakers' player along, each tone
  // is recorded once, at its level, in every full chunk after the switch.
  ASSERT_TRUE(agent_->until(
      [&, seen = 0](const json& event) mutable { return isChunkOf(event, "system") && ++seen > 4; },
      15s));
  stopAndExpectOneUnbrokenRecording();
  const auto events = agent_->events();
  int checked = 0;
  for (std::size_t i = switched; i < events.size(); ++i) {
    const auto& chunk = events[i];
    if (!isChunkOf(chunk, "system") || chunk.at("durationMs") != 1000) continue;
    ++checked;
    const auto samples = chunkSamples(chunk);
    EXPECT_TRUE(tonesPresent(samples, kRate, {440.0, 880.0})) << chunk.at("sequence");
    const auto levels = toneLevels(samples, kRate, {440.0, 880.0});
    for (const double rms : levels.toneRms) {
      EXPECT_NEAR(20.0 * std::log10(rms / recordedToneRms(kMixAmplitude)), 0.0, kLevelDb)
          << chunk.at("sequence") << ": " << levels.describe({440.0, 880.0});
    }
  }
  EXPECT_GE(checked, 3);
}

TEST_F(PulseAgent, AfterAServerRestartBothOutputsThatPlayAreRecordedOn) {
  {
    TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
    TonePlayer headphones("mirevo_headphones", 880.0, kMixAmplitude);
    agent_->send(kStart);
    ASSERT_TRUE(recordMix("system", {440.0, 880.0})) << tonesOf("system", {440.0, 880.0});
    ASSERT_TRUE(server_->restart());
  }
  ASSERT_TRUE(hasSink("mirevo_headphones"));
  TonePlayer speakers("mirevo_speakers", 550.0, kMixAmplitude);
  TonePlayer headphones("mirevo_headphones", 990.0, kMixAmplitude);
  ASSERT_TRUE(recordMix("system", {550.0, 990.0}, {440.0, 880.0}))
      << tonesOf("system", {440.0, 880.0, 550.0, 990.0});
  stopAndExpectOneUnbrokenRecording();
}

// The set-ups of real desktops.

// An echo canceller makes its output and its microphone the defaults; the
// call played into its output reaches the speakers once, and is recorded
// once, at the level the speakers' monitor carries. Classic PulseAudio's
// canceller runs at 32 kHz.
TEST_F(PulseAgent, AnEchoCancellersCallIsHeardOnceAndItsMicrophoneIsRecorded) {
  ASSERT_TRUE(server_->pactl(
      "load-module module-echo-cancel source_master=mirevo_mic sink_master=mirevo_speakers "
      "source_name=mirevo_mic_ec sink_name=mirevo_speakers_ec aec_method=webrtc"));
  ASSERT_TRUE(server_->pactl("set-default-sink mirevo_speakers_ec"));
  ASSERT_TRUE(server_->pactl("set-default-source mirevo_mic_ec"));
  ASSERT_TRUE(defaultsAre("mirevo_speakers_ec", "mirevo_mic_ec"));
  TonePlayer call("mirevo_speakers_ec", 440.0, kMixAmplitude);
  TonePlayer voice("mirevo_mic_line", 1000.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {440.0}, {1000.0})) << tonesOf("system", {440.0, 1000.0});
  const auto heard = agent_->events().size();
  ASSERT_TRUE(recordFullChunks(3));
  // The canceller alone records the microphone it cleans; the agent records
  // what it cleaned. (Its noise suppression takes a steady tone for noise:
  // what the microphone delivers is checked, not the tone's level.)
  EXPECT_EQ(recordersOf("mirevo_mic_ec"), 1);
  EXPECT_EQ(recordersOf("mirevo_mic"), 1);
  EXPECT_EQ(recordersOf("mirevo_speakers.monitor"), 0);
  stopAndExpectOneUnbrokenRecording();
  EXPECT_TRUE(everyFullChunkHolds("system", {440.0}, {1000.0}, heard));
  EXPECT_GE(chunksOf(agent_->events(), "microphone").size(), 3u);
}

// A loopback plays the speakers' sound again on the headphones: it is
// recorded once, through the speakers, where it first played.
TEST_F(PulseAgent, ALoopbackIntoAnotherOutputIsHeardOnceWhereItFirstPlayed) {
  ASSERT_TRUE(server_->pactl(
      "load-module module-loopback source=mirevo_speakers.monitor sink=mirevo_headphones "
      "latency_msec=60"));
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {440.0})) << tonesOf("system", {440.0});
  const auto heard = agent_->events().size();
  ASSERT_TRUE(recordFullChunks(3));
  EXPECT_EQ(recordersOf("mirevo_headphones.monitor"), 0);
  stopAndExpectOneUnbrokenRecording();
  EXPECT_TRUE(everyFullChunkHolds("system", {440.0}, {}, heard));
}

// A USB output at 44.1 kHz and a headset's call microphone at 16 kHz, both
// the defaults: each tone keeps its pitch and level.
TEST_F(PulseAgent, AnOutputAndAMicrophoneAtOtherRatesKeepTheirTones) {
  ASSERT_TRUE(
      server_->pactl("load-module module-null-sink sink_name=mirevo_usb rate=44100 "
                     "norewinds=1"));
  ASSERT_TRUE(
      server_->pactl("load-module module-null-sink sink_name=mirevo_call_line rate=16000 "
                     "norewinds=1"));
  ASSERT_TRUE(
      server_->pactl("load-module module-remap-source source_name=mirevo_call_mic "
                     "master=mirevo_call_line.monitor rate=16000"));
  ASSERT_TRUE(server_->pactl("set-default-sink mirevo_usb"));
  ASSERT_TRUE(server_->pactl("set-default-source mirevo_call_mic"));
  ASSERT_TRUE(defaultsAre("mirevo_usb", "mirevo_call_mic"));
  TonePlayer usb("mirevo_usb", 440.0, kMixAmplitude);
  TonePlayer voice("mirevo_call_line", 1000.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordMix("system", {440.0}, {1000.0})) << tonesOf("system", {440.0, 1000.0});
  ASSERT_TRUE(recordMix("microphone", {1000.0}, {440.0})) << tonesOf("microphone", {1000.0, 440.0});
  const auto heard = agent_->events().size();
  ASSERT_TRUE(recordFullChunks(2));
  stopAndExpectOneUnbrokenRecording();
  EXPECT_TRUE(everyFullChunkHolds("system", {440.0}, {1000.0}, heard));
  EXPECT_TRUE(everyFullChunkHolds("microphone", {1000.0}, {440.0}, heard));
}

// A headset drops its music profile when a call opens its microphone: its
// output goes, a 16 kHz output and microphone appear, and the defaults move
// to them. Both sources go on, each tone at its pitch.
TEST_F(PulseAgent, AHeadsetThatSwitchesToItsCallProfileIsRecordedOn) {
  ASSERT_TRUE(
      server_->pactl("load-module module-null-sink sink_name=mirevo_headset_music "
                     "norewinds=1"));
  ASSERT_TRUE(server_->pactl("set-default-sink mirevo_headset_music"));
  ASSERT_TRUE(defaultsAre("mirevo_headset_music", "mirevo_mic"));
  TonePlayer music("mirevo_headset_music", 440.0, kMixAmplitude);
  TonePlayer voice("mirevo_mic_line", 1000.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordTones({{"system", {440.0}}, {"microphone", {1000.0}}}))
      << tonesOf("system", {440.0}) << tonesOf("microphone", {1000.0});
  ASSERT_TRUE(
      server_->pactl("load-module module-null-sink sink_name=mirevo_headset_call "
                     "rate=16000 norewinds=1"));
  ASSERT_TRUE(
      server_->pactl("load-module module-null-sink sink_name=mirevo_headset_line "
                     "rate=16000 norewinds=1"));
  ASSERT_TRUE(
      server_->pactl("load-module module-remap-source source_name=mirevo_headset_mic "
                     "master=mirevo_headset_line.monitor rate=16000"));
  ASSERT_TRUE(unloadModuleOf("mirevo_headset_music"));
  ASSERT_TRUE(server_->pactl("set-default-sink mirevo_headset_call"));
  ASSERT_TRUE(server_->pactl("set-default-source mirevo_headset_mic"));
  ASSERT_TRUE(defaultsAre("mirevo_headset_call", "mirevo_headset_mic"));
  TonePlayer call("mirevo_headset_call", 550.0, kMixAmplitude);
  TonePlayer headsetVoice("mirevo_headset_line", 770.0, kMixAmplitude);
  // The music's player went wherever the server moved it, and plays on.
  ASSERT_TRUE(recordTones(
      {{"system", {550.0, {1000.0, 770.0}}}, {"microphone", {770.0, {1000.0, 440.0, 550.0}}}}))
      << tonesOf("system", {440.0, 550.0, 1000.0, 770.0}) << tonesOf("microphone", {1000.0, 770.0});
  ASSERT_TRUE(recordTones({{"system", {440.0}}})) << tonesOf("system", {440.0, 550.0});
  stopAndExpectOneUnbrokenRecording();
  for (const char* source : {"system", "microphone"}) {
    EXPECT_LE(longestSilence(source), 1.0) << source;
  }
}

// The default output goes while it plays: its player moves to the output
// the server makes the default, and the system's audio goes on from there.
// Its record stream is never moved to a microphone, as the server would do
// with a stream that lets itself be moved.
TEST_F(PulseAgent, AVanishingDefaultOutputNeverGivesTheSystemsAudioTheMicrophone) {
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  TonePlayer voice("mirevo_mic2_line", 660.0, kMixAmplitude);
  ASSERT_TRUE(server_->pactl("set-default-source mirevo_mic2"));
  ASSERT_TRUE(defaultsAre("mirevo_speakers", "mirevo_mic2"));
  agent_->send(kStart);
  ASSERT_TRUE(recordTones({{"system", {440.0, {660.0}}}, {"microphone", {660.0, {440.0}}}}));
  ASSERT_TRUE(unloadModuleOf("mirevo_speakers"));
  const std::string now = serverDefault("sink");
  ASSERT_NE(now, "mirevo_mic2_line") << "the server made the microphone's line the default output";
  const auto unplugged = agent_->events().size();
  ASSERT_TRUE(recordFullChunks(3));
  // The agent's microphone is the one stream on the microphone.
  EXPECT_EQ(recordersOf("mirevo_mic2"), 1);
  stopAndExpectOneUnbrokenRecording();
  EXPECT_TRUE(everyFullChunkHolds("system", {440.0}, {660.0}, unplugged)) << now;
}

// PipeWire changes its graph's rate and quantum while a recording runs (an
// output at another rate starting, or forced by hand), and back: the
// recording goes on without a break and the tones keep their pitch.
TEST_F(PulseAgent, PipeWiresForcedRateAndQuantumBreakNothing) {
  if (!onPipeWire()) GTEST_SKIP() << "PipeWire's own clock settings";
  const std::string settings =
      "XDG_RUNTIME_DIR='" + server_->folder() + "/runtime' pw-metadata -n settings 0 ";
  TonePlayer speakers("mirevo_speakers", 440.0, kMixAmplitude);
  TonePlayer voice("mirevo_mic_line", 1000.0, kMixAmplitude);
  agent_->send(kStart);
  ASSERT_TRUE(recordTones({{"system", {440.0, {1000.0}}}, {"microphone", {1000.0, {440.0}}}}));
  const auto heard = agent_->events().size();
  for (const char* change : {"clock.force-rate 44100", "clock.force-quantum 2048",
                             "clock.force-rate 0", "clock.force-quantum 0"}) {
    ASSERT_TRUE(runCommand(settings + change)) << change;
    ASSERT_TRUE(recordFullChunks(1)) << change;
  }
  ASSERT_TRUE(recordFullChunks(1));
  stopAndExpectOneUnbrokenRecording();
  for (const char* source : {"system", "microphone"}) {
    EXPECT_EQ(breaksOf(chunksOf(agent_->events(), source)), std::vector<int>{}) << source;
  }
  EXPECT_TRUE(everyFullChunkHolds("system", {440.0}, {1000.0}, heard));
  EXPECT_TRUE(everyFullChunkHolds("microphone", {1000.0}, {440.0}, heard));
}

}  // namespace
}  // namespace mirevo::testing
