#include "Report.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

#include "SpeechLikeSignal.hpp"
#include "TwoSourceStream.hpp"

namespace mirevo::inspect {
namespace {

TEST(Report, LevelsAreSummarisedPerSourceOverEveryHeartbeat) {
  InspectedRecording recording;
  recording.levels = {
      {0, 0.0, 0.0, false, false}, {1, 0.6, 0.1, true, true}, {2, 0.3, 0.0, true, false}};
  const LevelSummary microphone = summariseLevels(recording, "microphone");
  EXPECT_DOUBLE_EQ(microphone.minimum, 0.0);
  EXPECT_DOUBLE_EQ(microphone.mean, 0.3);
  EXPECT_DOUBLE_EQ(microphone.maximum, 0.6);
  EXPECT_EQ(microphone.active, 2u);
  EXPECT_EQ(microphone.firstActiveSeconds, 1);
  const LevelSummary system = summariseLevels(recording, "system");
  EXPECT_DOUBLE_EQ(system.maximum, 0.1);
  EXPECT_EQ(system.active, 1u);
  EXPECT_EQ(system.firstActiveSeconds, 1);
  EXPECT_EQ(summariseLevels(InspectedRecording{}, "system").samples, 0u);
  EXPECT_FALSE(summariseLevels(InspectedRecording{}, "system").firstActiveSeconds);
}

TEST(Report, NamesEachSourcesBreaksTheEndAndEveryViolation) {
  Inspector inspector;
  std::istringstream stream(
      R"({"elapsedSeconds":0,"message":"m","microphoneAudioState":"warning","microphoneLevel":0,"sessionId":"s","state":"recording","systemAudioState":"waiting","systemLevel":0,"type":"status"})"
      "\n"
      R"({"channels":1,"dataBase64":"AAA=","durationMs":1,"encoding":"pcm_s16le","jobId":"j","sampleRate":8000,"sequence":0,"source":"system","startedAtMs":0,"type":"audio_chunk"})"
      "\n"
      R"({"channels":1,"dataBase64":"AAA=","durationMs":1,"encoding":"pcm_s16le","jobId":"j","sampleRate":8000,"sequence":2,"source":"system","startedAtMs":250,"type":"audio_chunk"})"
      "\n"
      R"({"message":"Stream stopped.","sessionId":"s","type":"failed"})");
  inspector.read(stream);
  std::ostringstream report;
  writeReport(report, inspector);
  const std::string text = report.str();
  EXPECT_NE(text.find("Recording 1: session s, job j, 0 s elapsed; failed: Stream stopped."),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("system: 2 chunk(s)"), std::string::npos) << text;
  EXPECT_NE(text.find("sequence 0..2, NOT continuous, first chunk at 0 ms"), std::string::npos)
      << text;
  // The one heartbeat found neither source delivering.
  EXPECT_NE(text.find("over 1 status event(s), active in 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("gap of 249.9 ms at 0.000 s (line 3)"), std::string::npos) << text;
  EXPECT_NE(text.find("line 3: system sequence skips: 2 where 1 was due"), std::string::npos)
      << text;
  EXPECT_NE(text.find("line 4: does not end in a line feed"), std::string::npos) << text;
}

// The lag as the report gives it: the summary line, then a line per window,
// or per group of windows in a long recording (at most 60 lines).
TEST(Report, GivesTheLagPerWindowOrPerGroupInALongRecording) {
  struct Case {
    double seconds;
    bool microphoneHearsSystem;
    std::string summary;
    std::string firstRow;
    std::size_t rows;
  };
  const Case cases[] = {
      {12, true, "median +7.50 ms, drift +0.000 ms/min", "    0.000 s: +7.50 ms, confidence 1.00\n",
       3},
      {248, true, "common sound in 62 of 62 window(s) of 4 s",
       "    0.000 s to 8.000 s: +7.50 ms, confidence 1.00 (median of 2 of 2 windows)\n", 31},
      {12, false, "lag (microphone after system): no common sound in any of the 3 window(s)", "",
       0},
  };
  const mirevo::testing::SpeechLikeSignal played(1);
  const mirevo::testing::SpeechLikeSignal other(2);
  for (const Case& c : cases) {
    mirevo::testing::TwoSourceRecording recording;
    recording.seconds = c.seconds;
    recording.sampleRate = 8000;  // quick to make; the lag is whole samples
    recording.system = [&](double t) { return played.at(t); };
    recording.microphone = [&](double t) {
      return c.microphoneHearsSystem ? 0.5 * played.at(t - 0.0075) : other.at(t);
    };
    std::ostringstream stream;
    mirevo::testing::writeTwoSourceStream(stream, recording);
    Inspector inspector;
    std::istringstream input(stream.str());
    inspector.read(input);
    inspector.finish();
    std::ostringstream report;
    writeReport(report, inspector);
    const std::string text = report.str();
    EXPECT_NE(text.find(c.summary), std::string::npos) << text;
    // The lag's rows are the only lines indented by four and starting with a time.
    std::size_t rows = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("    ") && line.size() > 4 && std::isdigit(line[4])) ++rows;
    EXPECT_EQ(rows, c.rows) << text;
    if (!c.firstRow.empty()) {
      EXPECT_NE(text.find(c.firstRow), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace mirevo::inspect
