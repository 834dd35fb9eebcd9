#include "EventParser.hpp"

#include <gtest/gtest.h>

#include <string>

namespace mirevo::inspect {
namespace {

// An audio_chunk line with `data` as its audio and `durationMs` as given.
std::string chunkLine(const std::string& data, int durationMs, int sampleRate = 48000) {
  return R"({"channels":1,"dataBase64":")" + data + R"(","durationMs":)" +
         std::to_string(durationMs) + R"(,"encoding":"pcm_s16le","jobId":"job-7","sampleRate":)" +
         std::to_string(sampleRate) +
         R"(,"sequence":0,"source":"microphone","startedAtMs":37,"type":"audio_chunk"})";
}

// Base64 of `samples` zero samples.
std::string silence(std::size_t samples) {
  std::string text;
  const std::size_t bytes = samples * 2;
  for (std::size_t i = 0; i < bytes / 3; ++i) text += "AAAA";
  if (bytes % 3 == 1) text += "AA==";
  if (bytes % 3 == 2) text += "AAA=";
  return text;
}

TEST(EventParser, ReadsTheChunkOfTheProtocolExample) {
  const ParsedLine parsed = parseEventLine(chunkLine("\\/\\/8AABAA8P8=", 1));
  EXPECT_TRUE(parsed.problems.empty()) << parsed.problems.front();
  const auto& chunk = std::get<AudioChunkEvent>(*parsed.event);
  EXPECT_EQ(chunk.samples, (std::vector<std::int16_t>{-1, 0, 16, -16}));
  EXPECT_EQ(chunk.startedAtMs, 37);
  EXPECT_EQ(chunk.sampleRate, 48000);
  EXPECT_EQ(chunk.source, "microphone");
}

TEST(EventParser, DurationMustMatchTheSamplesRoundedHalfAwayFromZero) {
  struct Case {
    std::size_t samples;
    int rate;
    int writtenMs;
    bool matches;
  };
  const Case cases[] = {
      {1, 48000, 1, true},        {24, 48000, 1, true},       {72, 48000, 2, true},
      {72, 48000, 1, false},      {1000, 48000, 21, true},    {1000, 48000, 20, false},
      {48000, 48000, 1000, true}, {44100, 44100, 1000, true}, {80, 8000, 11, false},
  };
  for (const Case& c : cases) {
    const ParsedLine parsed = parseEventLine(chunkLine(silence(c.samples), c.writtenMs, c.rate));
    EXPECT_EQ(parsed.problems.empty(), c.matches) << c.samples << " samples at " << c.rate;
    ASSERT_TRUE(parsed.event);
    EXPECT_EQ(std::get<AudioChunkEvent>(*parsed.event).samples.size(), c.samples);
  }
}

struct ProblemCase {
  std::string line;
  std::string problem;
};

TEST(EventParser, NamesWhatIsWrongWithALine) {
  const ProblemCase cases[] = {
      {"", "is empty"},
      {"{\"type\":\"status\"", "is not JSON"},
      {"[1,2]", "is not a JSON object"},
      {R"({"sessionId":"s"})", "missing key \"type\""},
      {R"({"type":"completed"})", "missing key \"sessionId\""},
      {R"({"sessionId":null,"type":"completed"})", "key \"sessionId\" is null"},
      {R"({"message":"m","sessionId":null,"type":"failed"})", "key \"sessionId\" is null"},
      {R"({"sessionId":42,"type":"completed"})", "key \"sessionId\" is not a string"},
      {R"({"sessionId":"s","type":null})", "key \"type\" is null"},
      {R"({"jobId":"j","sessionId":"s","type":"completed"})",
       "key \"jobId\" is not defined for \"completed\""},
      {R"({"devices":[{"id":"a","isDefault":true,"kind":"audioinput","label":null}],"type":"devices"})",
       "key \"devices[0].label\" is null"},
      {R"({"devices":[null],"type":"devices"})", "key \"devices[0]\" is null"},
      {R"({"devices":[{"id":"a","isDefault":true,"kind":"audioinput","label":"A","uid":7}],"type":"devices"})",
       "key \"uid\" is not defined for a device"},
      {R"({"type":"hello"})", "unknown event type \"hello\""},
      {chunkLine("AA==", 1), "odd byte count 1 in \"dataBase64\""},
      {chunkLine("", 1), "the chunk carries no audio"},
      {chunkLine("AA*A", 1), "\"dataBase64\" is not valid base64"},
      {R"({"channels":1,"dataBase64":"AAA=","durationMs":1.0,"encoding":"pcm_s16le","jobId":"j","sampleRate":48000,"sequence":0,"source":"microphone","startedAtMs":0,"type":"audio_chunk"})",
       "key \"durationMs\" is not an integer"},
      {R"({"channels":2,"dataBase64":"AAA=","durationMs":1,"encoding":"pcm_s16le","jobId":"j","sampleRate":48000,"sequence":0,"source":"microphone","startedAtMs":0,"type":"audio_chunk"})",
       "\"channels\" is 2, not 1"},
      {R"({"channels":1,"dataBase64":"AAA=","durationMs":1,"encoding":"pcm_s16le","jobId":"j","sampleRate":48000,"sequence":0,"source":"speaker","startedAtMs":0,"type":"audio_chunk"})",
       "key \"source\" has the unexpected value \"speaker\""},
      {R"({"elapsedSeconds":1,"message":"m","microphoneAudioState":"active","microphoneLevel":1.5,"sessionId":"s","state":"recording","systemAudioState":"waiting","systemLevel":0,"type":"status"})",
       "\"microphoneLevel\" is outside 0..1"},
      {R"({"elapsedSeconds":1,"message":"m","microphoneAudioState":"active","microphoneLevel":0.5,"sessionId":"s","state":"recording","systemAudioState":"warning","systemLevel":0,"type":"status"})",
       "key \"systemAudioState\" has the unexpected value \"warning\""},
      {R"({"devices":[{"id":"a","isDefault":"yes","kind":"audioinput","label":"A"}],"type":"devices"})",
       "key \"isDefault\" is not a boolean"},
  };
  for (const ProblemCase& c : cases) {
    const ParsedLine parsed = parseEventLine(c.line);
    ASSERT_EQ(parsed.problems.size(), 1u) << c.line;
    EXPECT_EQ(parsed.problems.front(), c.problem) << c.line;
  }
}

TEST(EventParser, ReadsStatusFailedAndDevices) {
  const ParsedLine status = parseEventLine(
      R"({"elapsedSeconds":42,"message":"Recording microphone and system audio.","microphoneAudioState":"active","microphoneLevel":0.5,"sessionId":"sess-42","state":"recording","systemAudioState":"active","systemLevel":0.25,"type":"status"})");
  ASSERT_TRUE(status.problems.empty());
  const auto& heartbeat = std::get<StatusEvent>(*status.event);
  EXPECT_EQ(heartbeat.elapsedSeconds, 42);
  EXPECT_DOUBLE_EQ(heartbeat.microphoneLevel, 0.5);
  EXPECT_DOUBLE_EQ(heartbeat.systemLevel, 0.25);
  EXPECT_TRUE(heartbeat.microphoneActive && heartbeat.systemActive);

  const ParsedLine failed =
      parseEventLine(R"({"message":"Unknown capture command.","type":"failed"})");
  ASSERT_TRUE(failed.problems.empty());
  EXPECT_FALSE(std::get<FailedEvent>(*failed.event).sessionId);

  const ParsedLine devices = parseEventLine(
      R"({"devices":[{"id":"builtin-mic-0","isDefault":true,"kind":"audioinput","label":"Built-in Microphone"}],"type":"devices"})");
  ASSERT_TRUE(devices.problems.empty());
  EXPECT_EQ(std::get<DevicesEvent>(*devices.event).labels,
            std::vector<std::string>{"Built-in Microphone"});
}

}  // namespace
}  // namespace mirevo::inspect
