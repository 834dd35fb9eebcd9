#include "CleanChunkLine.hpp"

#include <gtest/gtest.h>

#include <string>

#include "EventParser.hpp"

namespace mirevo::inspect {
namespace {

// The protocol's example chunk with one piece of its text replaced.
std::string exampleWith(const std::string& from, const std::string& to) {
  std::string line =
      R"({"channels":1,"dataBase64":"\/\/8AABAA8P8=","durationMs":1,"encoding":"pcm_s16le","jobId":"job-7","sampleRate":48000,"sequence":0,"source":"microphone","startedAtMs":37,"type":"audio_chunk"})";
  if (!from.empty()) line.replace(line.find(from), from.size(), to);
  return line;
}

TEST(CleanChunkLine, ReadsAChunkAsTheAgentWritesIt) {
  const auto chunk = readCleanChunkLine(exampleWith("", ""));
  ASSERT_TRUE(chunk);
  EXPECT_EQ(chunk->samples, (std::vector<std::int16_t>{-1, 0, 16, -16}));
  EXPECT_EQ(chunk->jobId, "job-7");
  EXPECT_EQ(chunk->source, "microphone");
  EXPECT_EQ(chunk->sequence, 0);
  EXPECT_EQ(chunk->startedAtMs, 37);
  EXPECT_EQ(chunk->durationMs, 1);
  EXPECT_EQ(chunk->sampleRate, 48000);
}

// Every line the fast path refuses is one the full parser reads with care:
// either it breaks the protocol, or its text needs a JSON reader.
TEST(CleanChunkLine, LeavesAnythingElseToTheFullParser) {
  struct Case {
    std::string from;
    std::string to;
    bool breaksProtocol;
  };
  const Case cases[] = {
      {"job-7", "job\\u002d7", false},  // an escape in a string
      {"job-7", "j\\u00f6b", false},
      {"\"sequence\":0", "\"sequence\":01", true},
      {"\"sequence\":0", "\"sequence\":-1", true},
      {"\"startedAtMs\":37", "\"startedAtMs\":37.0", true},
      {"\"durationMs\":1", "\"durationMs\":2", true},
      {"\"durationMs\":1", "\"durationMs\": 1", true},
      {"\"channels\":1", "\"channels\":2", true},
      {"48000", "7999", true},
      {"microphone", "speaker", true},
      {"\\/\\/8A", "//8A", true},
      {"\\/\\/8A", "\\/\\/8", true},
      {"\\/\\/8AABAA8P8=", "", true},
      {"\"type\":\"audio_chunk\"}", "\"type\":\"audio_chunk\",\"x\":1}", true},
      {"\"encoding\":\"pcm_s16le\",\"jobId\":\"job-7\"",
       "\"jobId\":\"job-7\",\"encoding\":\"pcm_s16le\"", true},
  };
  for (const Case& c : cases) {
    const std::string line = exampleWith(c.from, c.to);
    EXPECT_FALSE(readCleanChunkLine(line)) << line;
    EXPECT_EQ(parseEventLine(line).problems.empty(), !c.breaksProtocol) << line;
  }
}

}  // namespace
}  // namespace mirevo::inspect
