#include "StreamChecker.hpp"

#include <gtest/gtest.h>

namespace mirevo::inspect {
namespace {

AudioChunkEvent chunk(const char* source, std::int64_t sequence, std::int64_t startedAtMs,
                      std::size_t samples = 480, const char* job = "job-7") {
  return {job, source, sequence, startedAtMs, 10, 48000, std::vector<std::int16_t>(samples)};
}

StatusEvent status(std::int64_t elapsedSeconds, const char* session = "sess-42") {
  return {session, elapsedSeconds, 0.5, 0.25, true, true};
}

// Feeds events as lines 1, 2, 3... and keeps what the checker says.
class StreamCheckerTest : public ::testing::Test {
 protected:
  std::optional<ChunkPlacement> feed(const Event& event) {
    return checker.accept(++line, event, violations);
  }
  void feedAll(std::initializer_list<Event> events) {
    for (const Event& event : events) feed(event);
  }
  std::string violationText() const {
    std::string text;
    for (const Violation& v : violations) text += std::to_string(v.line) + ": " + v.text + "\n";
    return text;
  }

  StreamChecker checker;
  std::vector<Violation> violations;
  std::int64_t line = 0;
};

TEST_F(StreamCheckerTest, SourcesNumberTheirChunksIndependently) {
  feedAll({status(0), chunk("microphone", 0, 0), chunk("system", 0, 5), chunk("microphone", 1, 10),
           chunk("system", 1, 15), CompletedEvent{"sess-42"}});
  EXPECT_EQ(violationText(), "");
  ASSERT_EQ(checker.recordings().size(), 1u);
  const InspectedRecording& recording = checker.recordings().front();
  EXPECT_EQ(recording.end, InspectedRecording::End::completed);
  EXPECT_EQ(recording.jobId, "job-7");
  EXPECT_EQ(recording.microphone.chunks.size(), 2u);
  EXPECT_DOUBLE_EQ(recording.system.audioMs, 20.0);
}

TEST_F(StreamCheckerTest, ASkipOrARepeatOfTheSequenceIsNamedWithItsLine) {
  feedAll({status(0), chunk("microphone", 0, 0), chunk("microphone", 2, 10), chunk("system", 0, 0),
           chunk("system", 0, 10), chunk("system", 1, 20)});
  EXPECT_EQ(violationText(),
            "3: microphone sequence skips: 2 where 1 was due\n"
            "5: system sequence repeats: 0 where 1 was due\n");
  EXPECT_FALSE(checker.recordings().front().microphone.sequenceContinuous);
}

TEST_F(StreamCheckerTest, MeasuresGapsAndOverlapsBeyondRounding) {
  // 1000 samples at 48000 Hz last 20.83 ms: the next chunk is written at 21.
  EXPECT_FALSE(feed(chunk("microphone", 0, 0, 1000))->continues);
  EXPECT_TRUE(feed(chunk("microphone", 1, 21, 1000))->continues);
  EXPECT_TRUE(feed(chunk("microphone", 2, 42, 480))->continues);    // ends at 51.67
  EXPECT_FALSE(feed(chunk("microphone", 3, 300, 480))->continues);  // a gap
  EXPECT_FALSE(feed(chunk("microphone", 4, 250, 480))->continues);  // an overlap
  const auto& breaks = checker.recordings().front().microphone.breaks;
  ASSERT_EQ(breaks.size(), 2u);
  EXPECT_EQ(breaks[0].kind, Break::Kind::gap);
  EXPECT_NEAR(breaks[0].expectedMs, 51.67, 0.01);
  EXPECT_NEAR(breaks[0].sizeMs, 248.33, 0.01);
  EXPECT_EQ(breaks[0].line, 4);
  EXPECT_EQ(breaks[1].kind, Break::Kind::overlap);
  EXPECT_NEAR(breaks[1].sizeMs, 60.0, 1e-9);
  EXPECT_EQ(violationText(), "");
}

TEST_F(StreamCheckerTest, NoEventOfASessionMayFollowItsEnd) {
  struct Case {
    const char* name;
    Event end;
    Event after;
    const char* violation;
  };
  const Case cases[] = {
      {"status after completed", CompletedEvent{"sess-42"}, status(3),
       "4: status of session \"sess-42\" after its completed (line 3)\n"},
      {"chunk after failed", FailedEvent{"Stream stopped.", "sess-42"}, chunk("system", 0, 900),
       "4: audio_chunk of job \"job-7\" after its session failed (line 3)\n"},
      {"completed after failed", FailedEvent{"Stream stopped.", "sess-42"},
       CompletedEvent{"sess-42"},
       "4: completed of session \"sess-42\" after its failed (line 3)\n"},
      {"second completed", CompletedEvent{"sess-42"}, CompletedEvent{"sess-42"},
       "4: completed of session \"sess-42\" after its completed (line 3)\n"},
  };
  for (const Case& c : cases) {
    StreamChecker fresh;
    std::vector<Violation> found;
    std::int64_t n = 0;
    for (const Event& event : {Event{status(0)}, Event{chunk("microphone", 0, 0)}, c.end, c.after})
      fresh.accept(++n, event, found);
    std::string text;
    for (const Violation& v : found) text += std::to_string(v.line) + ": " + v.text + "\n";
    EXPECT_EQ(text, c.violation) << c.name;
  }
}

TEST_F(StreamCheckerTest, AcceptsWhatTheAgentMaySendAroundARecording) {
  feedAll({
      FailedEvent{"The selected microphone is no longer available.", "sess-1"},
      CompletedEvent{"sess-1"},  // the clean-up stop after a failed start
      status(0),
      chunk("microphone", 0, 0),
      FailedEvent{"Invalid start request or capture already active.", "sess-42"},
      FailedEvent{"Unknown capture command.", std::nullopt},
      CompletedEvent{"sess-42"},
      FailedEvent{"No active recording session.", "sess-42"},
      status(0),  // a new recording under the same identifier
      chunk("microphone", 0, 0),
      CompletedEvent{"sess-42"},
  });
  EXPECT_EQ(violationText(), "");
  ASSERT_EQ(checker.recordings().size(), 2u);
  EXPECT_EQ(checker.recordings()[1].microphone.chunks.size(), 1u);
}

TEST_F(StreamCheckerTest, OneRecordingAtATime) {
  feedAll({status(0), chunk("microphone", 0, 0), status(1, "sess-9"),
           chunk("microphone", 1, 10, 480, "job-9")});
  EXPECT_EQ(violationText(),
            "3: status of session \"sess-9\" while \"sess-42\" is recording\n"
            "4: audio_chunk of job \"job-9\" while job \"job-7\" is recording\n");
}

TEST_F(StreamCheckerTest, ARecordingFailedFromWithinKeepsItsMessage) {
  feedAll({status(0), FailedEvent{"Unsupported audio format.", "sess-42"}});
  EXPECT_EQ(checker.recordings().front().end, InspectedRecording::End::failed);
  EXPECT_EQ(describeEnd(checker.recordings().front()), "failed: Unsupported audio format.");
}

}  // namespace
}  // namespace mirevo::inspect
