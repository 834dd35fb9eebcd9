#include "Envelope.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "Inspector.hpp"
#include "audio/ChunkLine.hpp"

namespace mirevo::inspect {
namespace {

constexpr std::int64_t kRate = 8000;

struct Chunk {
  std::string source;
  std::int64_t sequence;
  std::int64_t startedAtMs;
  std::vector<std::int16_t> samples;
};

std::vector<std::int16_t> tone(std::size_t count, double amplitude, double hz) {
  std::vector<std::int16_t> samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double swell = 0.2 + 0.8 * static_cast<double>(i) / static_cast<double>(count);
    samples[i] = static_cast<std::int16_t>(
        std::lround(amplitude * swell * std::sin(hz * static_cast<double>(i) / kRate * 6.2832)));
  }
  return samples;
}

// The lowest and highest sample whose time falls in each column, straight
// from the chunks.
std::vector<EnvelopeColumn> expectedColumns(const std::vector<Chunk>& chunks,
                                            const std::string& source, std::size_t count,
                                            double spanMs) {
  std::vector<EnvelopeColumn> columns(count);
  for (const Chunk& chunk : chunks) {
    if (chunk.source != source) continue;
    for (std::size_t i = 0; i < chunk.samples.size(); ++i) {
      const double ms =
          static_cast<double>(chunk.startedAtMs) + static_cast<double>(i) * 1000.0 / kRate;
      EnvelopeColumn& column = columns[static_cast<std::size_t>(ms / (spanMs / count))];
      const std::int16_t sample = chunk.samples[i];
      column.minimum = column.hasAudio ? std::min(column.minimum, sample) : sample;
      column.maximum = column.hasAudio ? std::max(column.maximum, sample) : sample;
      column.hasAudio = true;
    }
  }
  return columns;
}

TEST(Envelope, ColumnsHoldTheLowestAndHighestSampleOfTheirTime) {
  // The system audio breaks for 100 ms; the microphone starts 37 ms in.
  const std::vector<Chunk> chunks = {
      {"system", 0, 0, tone(8000, 20000, 440)},
      {"microphone", 0, 37, tone(8000, 3000, 97)},
      {"system", 1, 1100, tone(7200, 30000, 1000)},
      {"microphone", 1, 1037, tone(8000, 9000, 3)},
  };
  std::ostringstream stream;
  for (const Chunk& chunk : chunks) {
    audio::ChunkLine line("job-1", chunk.source);
    const auto ms = static_cast<std::int64_t>(chunk.samples.size() * 1000 / kRate);
    stream << line.build({chunk.sequence, chunk.startedAtMs, ms, kRate}, chunk.samples);
  }
  Inspector inspector;
  std::istringstream input(stream.str());
  inspector.read(input);
  inspector.finish();
  ASSERT_TRUE(inspector.violations().empty()) << inspector.violations().front().text;
  const RecordingAudio* audio = inspector.audio(1);
  ASSERT_NE(audio, nullptr);

  // 32 ms columns over 2048 ms; the gap's columns stay empty.
  constexpr std::size_t kCount = 64;
  constexpr double kSpanMs = 2048;
  for (const char* source : {"microphone", "system"}) {
    const auto columns = audio->envelope(source).columns(kCount, kSpanMs);
    const auto expected = expectedColumns(chunks, source, kCount, kSpanMs);
    for (std::size_t i = 0; i < kCount; ++i) {
      EXPECT_EQ(columns[i].hasAudio, expected[i].hasAudio) << source << " column " << i;
      EXPECT_EQ(columns[i].minimum, expected[i].minimum) << source << " column " << i;
      EXPECT_EQ(columns[i].maximum, expected[i].maximum) << source << " column " << i;
    }
  }
  EXPECT_FALSE(audio->envelope("system").columns(kCount, kSpanMs)[32].hasAudio);  // 1024..1056 ms
}

// However few its buckets, the envelope keeps every extreme: widening merges
// neighbours and loses only detail finer than a bucket.
TEST(Envelope, FewBucketsMergeWithoutLosingAnExtreme) {
  for (const std::size_t buckets : {2u, 64u, 256u, 32768u}) {
    Envelope envelope(buckets);
    const auto first = tone(8000, 12000, 440);
    const auto second = tone(8000, 25000, 220);
    envelope.add(0, first, kRate);
    envelope.add(1000, second, kRate);
    const auto columns = envelope.columns(2, 2048);
    EXPECT_EQ(columns[0].maximum, *std::max_element(first.begin(), first.end())) << buckets;
    EXPECT_EQ(columns[1].minimum, *std::min_element(second.begin(), second.end())) << buckets;
    EXPECT_GE(envelope.bucketMs() * static_cast<double>(buckets), 2000.0) << buckets;
  }
}

}  // namespace
}  // namespace mirevo::inspect
