// How the accumulator cuts audio into chunks and stamps them: one-second cuts,
// breaks on a timing jump or a rate change, and the rounding of times.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "AudioTestSupport.hpp"
#include "CapturedOutput.hpp"
#include "audio/AudioChunks.hpp"
#include "events/Output.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace mirevo {
namespace {

using audio::AudioChunks;
using platform::sim::SimSampleBuffer;

// Time zero at the host clock's zero keeps the stamps below exact in binary.
constexpr double kOrigin = 0.0;

class AudioChunksTimeline : public ::testing::Test {
 protected:
  // A buffer of `frames` frames at `rate`, stamped `ms` after the origin.
  static SimSampleBuffer buffer(std::int64_t frames, double ms, double rate = 48000.0) {
    return SimSampleBuffer::constant<float>(0.25f, frames, rate, 1, true, kOrigin + ms / 1000.0);
  }
  // Appends back-to-back buffers of `frames` frames from time 0, each stamped
  // where the previous one ended.
  void appendContinuous(int count, std::int64_t frames, double rate = 48000.0) {
    for (int i = 0; i < count; ++i, ++appended_) {
      chunks.append(buffer(frames, static_cast<double>(appended_ * frames) / rate * 1000.0, rate));
    }
  }
  std::vector<nlohmann::json> chunkEvents() const { return output.events(); }

  testing::CapturedOutput output;
  testing::ManualClock clock;
  AudioChunks chunks{"job-7", "microphone", kOrigin, clock};

 private:
  std::int64_t appended_ = 0;
};

TEST_F(AudioChunksTimeline, CutsOneSecondInsideThe47thBufferOf1024Frames) {
  appendContinuous(46, 1024);
  EXPECT_TRUE(chunkEvents().empty());
  appendContinuous(1, 1024);
  const auto events = chunkEvents();
  ASSERT_EQ(events.size(), 1u);
  const auto& chunk = events[0];
  EXPECT_EQ(chunk["type"], "audio_chunk");
  EXPECT_EQ(chunk["jobId"], "job-7");
  EXPECT_EQ(chunk["source"], "microphone");
  EXPECT_EQ(chunk["channels"], 1);
  EXPECT_EQ(chunk["encoding"], "pcm_s16le");
  EXPECT_EQ(chunk["sequence"], 0);
  EXPECT_EQ(chunk["sampleRate"], 48000);
  EXPECT_EQ(chunk["startedAtMs"], 0);
  EXPECT_EQ(chunk["durationMs"], 1000);
  EXPECT_EQ(testing::chunkSamples(chunk), std::vector<std::int16_t>(48000, 8191));
  // The rest of the 47th buffer opens the next chunk where this one ended.
  EXPECT_EQ(chunks.pendingSamples(), 47 * 1024 - 48000);
  EXPECT_EQ(chunks.startMs(), 1000.0);
  // The line is exactly what the emitter would write for the same event.
  EXPECT_EQ(output.text(), Output::serialise(chunk));

  appendContinuous(47, 1024);
  const auto more = chunkEvents();
  ASSERT_EQ(more.size(), 2u);
  EXPECT_EQ(more[1]["sequence"], 1);
  EXPECT_EQ(more[1]["startedAtMs"], 1000);
}

TEST_F(AudioChunksTimeline, CutOnTheLastFrameOfThe50thBufferLetsThe51stStartAtItsOwnTime) {
  appendContinuous(50, 960);
  ASSERT_EQ(chunkEvents().size(), 1u);
  EXPECT_EQ(chunks.pendingSamples(), 0);
  // Stamped 37.4 ms later than the sample count says: the new chunk takes it.
  chunks.append(buffer(960, 1037.4));
  EXPECT_DOUBLE_EQ(chunks.startMs(), 1037.4);
  chunks.flush();
  const auto events = chunkEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1]["sequence"], 1);
  EXPECT_EQ(events[1]["startedAtMs"], 1037);
  EXPECT_EQ(events[1]["durationMs"], 20);
}

TEST_F(AudioChunksTimeline, OneLongBufferCuts24ChunksInOneCall) {
  chunks.append(buffer(192000, 0.0, 8000.0));
  const auto events = chunkEvents();
  ASSERT_EQ(events.size(), 24u);
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i]["sequence"], i);
    EXPECT_EQ(events[i]["startedAtMs"], 1000 * i);
    EXPECT_EQ(events[i]["durationMs"], 1000);
    EXPECT_EQ(events[i]["sampleRate"], 8000);
    EXPECT_EQ(testing::chunkSamples(events[i]).size(), 8000u);
  }
  EXPECT_EQ(chunks.pendingSamples(), 0);
}

TEST_F(AudioChunksTimeline, AJumpOfMoreThan100MsEitherWayBreaksTheChunk) {
  struct Case {
    double nextMs;
    bool breaks;
  };
  // 500 ms gathered from time 0: the audio ends at 500 ms.
  for (const Case c : {Case{600.0, false}, Case{600.5, true}, Case{400.0, false}, Case{399.0, true},
                       Case{520.0, false}, Case{5000.0, true}}) {
    output.clear();
    AudioChunks fresh("job-7", "microphone", kOrigin, clock);
    fresh.append(buffer(24000, 0.0));
    fresh.append(buffer(480, c.nextMs));
    const auto events = chunkEvents();
    if (c.breaks) {
      ASSERT_EQ(events.size(), 1u) << c.nextMs;
      EXPECT_EQ(events[0]["durationMs"], 500) << c.nextMs;
      EXPECT_EQ(events[0]["startedAtMs"], 0) << c.nextMs;
      EXPECT_EQ(fresh.startMs(), c.nextMs);
      EXPECT_EQ(fresh.pendingSamples(), 480);
    } else {
      EXPECT_TRUE(events.empty()) << c.nextMs;
      EXPECT_EQ(fresh.startMs(), 0.0) << c.nextMs;
      EXPECT_EQ(fresh.pendingSamples(), 24480) << c.nextMs;
    }
  }
}

TEST_F(AudioChunksTimeline, ARateChangeEmitsTheGatheredAudioAtItsOldRate) {
  chunks.append(buffer(4800, 0.0));
  chunks.append(buffer(800, 100.0, 8000.0));
  auto events = chunkEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["sampleRate"], 48000);
  EXPECT_EQ(events[0]["durationMs"], 100);
  EXPECT_EQ(chunks.rate(), 8000);
  EXPECT_EQ(chunks.startMs(), 100.0);
  chunks.flush();
  events = chunkEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1]["sampleRate"], 8000);
  EXPECT_EQ(events[1]["sequence"], 1);
  EXPECT_EQ(events[1]["startedAtMs"], 100);
  EXPECT_EQ(events[1]["durationMs"], 100);
}

TEST_F(AudioChunksTimeline, AFirstBufferAtAnotherRateEmitsNothing) {
  chunks.append(buffer(441, 12.0, 44100.9));
  EXPECT_TRUE(chunkEvents().empty());
  EXPECT_EQ(chunks.rate(), 44100);  // a fractional rate counts as its whole hertz
  EXPECT_EQ(chunks.startMs(), 12.0);
}

TEST_F(AudioChunksTimeline, TimesCountFromTheOriginAndNeverBeforeIt) {
  AudioChunks late("job-7", "system", 5000.0, clock);
  late.append(SimSampleBuffer::silence(480, 48000.0, 1, true, 4999.75));
  late.flush();
  late.append(SimSampleBuffer::silence(480, 48000.0, 1, true, 5000.25));
  late.flush();
  const auto events = chunkEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["startedAtMs"], 0);
  EXPECT_EQ(events[1]["startedAtMs"], 250);
}

TEST_F(AudioChunksTimeline, FlushRoundsHalvesAwayFromZeroAndAdvancesByTheExactDuration) {
  struct Case {
    std::int64_t samples;
    double startMs;
    std::int64_t durationMs;
    std::int64_t startedAtMs;
  };
  for (const Case c : {Case{1, 0.0, 1, 0}, Case{24, 0.0, 1, 0}, Case{72, 0.0, 2, 0},
                       Case{1000, 0.0, 21, 0}, Case{24000, 0.0, 500, 0}, Case{480, 2.5, 10, 3},
                       Case{480, 2.4, 10, 2}, Case{480, 1.5, 10, 2}}) {
    output.clear();
    testing::ManualClock zeroClock;
    AudioChunks fresh("job-7", "system", 0.0, zeroClock);
    fresh.append(SimSampleBuffer::silence(c.samples, 48000.0, 1, true, c.startMs / 1000.0));
    const double before = fresh.startMs();
    fresh.flush();
    const auto events = chunkEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["durationMs"], c.durationMs) << c.samples;
    EXPECT_EQ(events[0]["startedAtMs"], c.startedAtMs) << c.startMs;
    EXPECT_EQ(fresh.startMs(), before + static_cast<double>(c.samples) / 48000.0 * 1000.0);
    EXPECT_EQ(fresh.pendingSamples(), 0);
  }
}

TEST_F(AudioChunksTimeline, FlushWithNothingGatheredEmitsNothing) {
  chunks.flush();
  EXPECT_TRUE(chunkEvents().empty());
  EXPECT_EQ(chunks.sequence(), 0);
  chunks.append(buffer(100, 0.0));
  chunks.flush();
  chunks.flush();
  EXPECT_EQ(chunkEvents().size(), 1u);
  EXPECT_EQ(chunks.sequence(), 1);
}

TEST_F(AudioChunksTimeline, SourcesNumberTheirChunksIndependently) {
  AudioChunks system("job-7", "system", kOrigin, clock);
  chunks.append(buffer(48000, 0.0));
  system.append(buffer(100, 0.0));
  system.flush();
  chunks.append(buffer(100, 1000.0));
  chunks.flush();
  const auto events = chunkEvents();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0]["source"], "microphone");
  EXPECT_EQ(events[0]["sequence"], 0);
  EXPECT_EQ(events[1]["source"], "system");
  EXPECT_EQ(events[1]["sequence"], 0);
  EXPECT_EQ(events[1]["jobId"], "job-7");
  EXPECT_EQ(events[2]["source"], "microphone");
  EXPECT_EQ(events[2]["sequence"], 1);
}

TEST_F(AudioChunksTimeline, DestroyingAnAccumulatorWithAudioEmitsNothing) {
  {
    AudioChunks doomed("job-7", "system", kOrigin, clock);
    doomed.append(buffer(1000, 0.0));
  }
  EXPECT_TRUE(output.text().empty());
}

}  // namespace
}  // namespace mirevo
