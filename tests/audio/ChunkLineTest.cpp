#include "audio/ChunkLine.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AudioTestSupport.hpp"
#include "events/Output.hpp"

namespace mirevo::audio {
namespace {

nlohmann::json eventOf(const std::string& job, const std::string& source, const ChunkFields& f,
                       const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes;
  for (const std::int16_t s : samples) {
    bytes.push_back(static_cast<std::uint8_t>(s & 0xff));
    bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xff));
  }
  return {{"type", "audio_chunk"},
          {"jobId", job},
          {"source", source},
          {"sequence", f.sequence},
          {"startedAtMs", f.startedAtMs},
          {"durationMs", f.durationMs},
          {"sampleRate", f.sampleRate},
          {"channels", 1},
          {"encoding", "pcm_s16le"},
          {"dataBase64", testing::plainBase64(bytes)}};
}

// Job identifiers that exercise every escape the emitter's writer makes.
const std::vector<std::string> kJobs = {
    "job-7",
    "",
    "a/b//c",
    "quote\" back\\slash",
    std::string("ctl\x01\x1f\n\t\r\b\f", 11),
    "caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x8e\xa4",
    "bad \xff\xfe utf8 \xc3",
    "del\x7f",
};

TEST(ChunkLine, IsByteIdenticalToTheEmittersLine) {
  std::mt19937_64 random(99);
  std::uniform_int_distribution<std::int64_t> anyInteger(std::numeric_limits<std::int64_t>::min(),
                                                         std::numeric_limits<std::int64_t>::max());
  for (const auto& job : kJobs) {
    for (const std::string source : {"microphone", "system", "sys/tem"}) {
      ChunkLine line(job, source);
      for (int round = 0; round < 40; ++round) {
        ChunkFields fields;
        fields.sequence = round % 2 ? anyInteger(random) : round;
        fields.startedAtMs = round % 3 ? anyInteger(random) : 1000 * round;
        fields.durationMs = round % 5 ? anyInteger(random) : 1;
        fields.sampleRate = round % 7 ? anyInteger(random) : 48000;
        std::vector<std::int16_t> samples(random() % 2000);
        for (auto& s : samples) s = static_cast<std::int16_t>(random());
        const std::string expected = Output::serialise(eventOf(job, source, fields, samples));
        ASSERT_EQ(line.build(fields, samples), expected) << "job " << job << " round " << round;
      }
    }
  }
}

TEST(ChunkLine, ReusesItsBufferForChunksNoLargerThanBefore) {
  ChunkLine line("job", "microphone");
  const std::vector<std::int16_t> big(48000, -1), small(100, 7);
  const ChunkFields fields{1, 2, 3, 48000};
  const char* first = line.build(fields, big).data();
  EXPECT_EQ(line.build(fields, small).data(), first);
  EXPECT_EQ(line.build(fields, big).data(), first);
  EXPECT_EQ(line.build(fields, small),
            Output::serialise(eventOf("job", "microphone", fields, small)));
}

}  // namespace
}  // namespace mirevo::audio
