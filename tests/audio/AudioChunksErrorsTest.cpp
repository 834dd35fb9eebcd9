// Buffers the accumulator drops or refuses: each leaves the accumulator as it
// was (level and lastPacket included), and each refusal carries its error.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "AudioTestSupport.hpp"
#include "CapturedOutput.hpp"
#include "audio/AudioChunks.hpp"
#include "platform/Error.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace mirevo {
namespace {

using audio::AudioChunks;
using platform::SampleType;
using platform::sim::SimSampleBuffer;

struct ExpectedError {
  std::string domain;
  std::int64_t code;
  std::string description;
};

const ExpectedError kFormat{"MirevoAudio", 1, "Unsupported audio format."};
const ExpectedError kSampleType{"MirevoAudio", 2, "Unsupported PCM sample type."};

class AudioChunksErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    clock.uptime = 50.0;
    // 100 ms of a loud signal, so that level and lastPacket hold known values.
    chunks.append(SimSampleBuffer::constant<float>(0.5f, 4800, 48000.0, 1, true, 0.0));
    clock.uptime = 60.0;
    ASSERT_EQ(chunks.level(), 1.0);
    ASSERT_EQ(chunks.lastPacket(), 50.0);
  }

  // Runs append and returns the error it raised, if any.
  std::optional<platform::Error> appendCatching(const SimSampleBuffer& buffer) {
    try {
      chunks.append(buffer);
    } catch (const platform::Error& error) {
      return error;
    }
    return std::nullopt;
  }

  void expectUntouched(const std::string& name) {
    EXPECT_EQ(chunks.level(), 1.0) << name;
    EXPECT_EQ(chunks.lastPacket(), 50.0) << name;
    EXPECT_EQ(chunks.pendingSamples(), 4800) << name;
    EXPECT_EQ(chunks.rate(), 48000) << name;
    EXPECT_EQ(chunks.startMs(), 0.0) << name;
    EXPECT_TRUE(output.text().empty()) << name;
  }

  testing::CapturedOutput output;
  testing::ManualClock clock;
  AudioChunks chunks{"job", "microphone", 0.0, clock};
};

// A 10 ms mono float buffer that would continue the chunk, altered by `change`.
SimSampleBuffer continuing(const std::function<void(SimSampleBuffer&)>& change,
                           std::int64_t frames = 480, std::uint32_t channels = 1,
                           SampleType type = SampleType::float32) {
  platform::AudioFormat format;
  format.sampleRate = 48000.0;
  format.channelCount = channels;
  format.sampleType = type;
  SimSampleBuffer buffer(format, frames, 0.1);
  change(buffer);
  return buffer;
}

struct Case {
  const char* name;
  SimSampleBuffer buffer;
  std::optional<ExpectedError> error;  // none: dropped without a word
};

TEST_F(AudioChunksErrors, DroppedAndRefusedBuffersChangeNothing) {
  const auto nothing = [](SimSampleBuffer&) {};
  const Case cases[] = {
      {"not ready", continuing([](SimSampleBuffer& b) { b.setReady(false); }), std::nullopt},
      {"no format description",
       continuing([](SimSampleBuffer& b) { b.setHasFormatDescription(false); }), std::nullopt},
      {"no frames", continuing(nothing, 0), std::nullopt},
      {"a negative frame count", continuing([](SimSampleBuffer& b) { b.setReportedFrames(-1); }),
       std::nullopt},
      {"one frame too many", continuing(nothing, 192001), std::nullopt},
      {"an invalid presentation time",
       continuing([](SimSampleBuffer& b) { b.setInvalidPresentationTime(); }), std::nullopt},
      {"an infinite presentation time", continuing([](SimSampleBuffer& b) {
         b.setPresentationSeconds(std::numeric_limits<double>::infinity());
       }),
       std::nullopt},
      {"a time too far off to place",
       continuing([](SimSampleBuffer& b) { b.setPresentationSeconds(1e307); }), std::nullopt},
      {"no channels", continuing(nothing, 480, 0), kFormat},
      {"33 channels", continuing(nothing, 480, 33), kFormat},
      {"a rate just below 8000 Hz",
       continuing([](SimSampleBuffer& b) { b.setSampleRate(7999.99); }), kFormat},
      {"a rate just above 192000 Hz",
       continuing([](SimSampleBuffer& b) { b.setSampleRate(192000.01); }), kFormat},
      {"a rate that is not a number",
       continuing([](SimSampleBuffer& b) { b.setSampleRate(std::nan("")); }), kFormat},
      {"an infinite rate", continuing([](SimSampleBuffer& b) {
         b.setSampleRate(std::numeric_limits<double>::infinity());
       }),
       kFormat},
      {"a compressed format", continuing(nothing, 480, 1, SampleType::compressed), kFormat},
      {"a failing copy", continuing([](SimSampleBuffer& b) { b.setCopyStatus(-12731); }),
       ExpectedError{platform::kOSStatusErrorDomain, -12731,
                     platform::osStatusError(-12731).localizedDescription()}},
      {"a failing copy with an invalid time as well", continuing([](SimSampleBuffer& b) {
         b.setCopyStatus(560226676);
         b.setInvalidPresentationTime();
       }),
       ExpectedError{platform::kOSStatusErrorDomain, 560226676,
                     platform::osStatusError(560226676).localizedDescription()}},
      {"a compressed format whose copy would fail",
       continuing([](SimSampleBuffer& b) { b.setCopyStatus(-50); }, 480, 1, SampleType::compressed),
       kFormat},
      {"64-bit float samples", continuing(nothing, 480, 1, SampleType::float64), kSampleType},
  };
  for (const auto& c : cases) {
    const auto error = appendCatching(c.buffer);
    if (c.error) {
      ASSERT_TRUE(error.has_value()) << c.name;
      EXPECT_EQ(error->domain(), c.error->domain) << c.name;
      EXPECT_EQ(error->code(), c.error->code) << c.name;
      EXPECT_EQ(error->localizedDescription(), c.error->description) << c.name;
    } else {
      EXPECT_FALSE(error.has_value()) << c.name;
    }
    expectUntouched(c.name);
  }
}

TEST_F(AudioChunksErrors, TheCopyIsMadeBeforeAnInvalidTimeDropsTheBuffer) {
  const auto buffer = continuing([](SimSampleBuffer& b) { b.setInvalidPresentationTime(); });
  EXPECT_FALSE(appendCatching(buffer).has_value());
  EXPECT_EQ(buffer.copyCount(), 1);
}

TEST_F(AudioChunksErrors, AnUnsupportedSampleTypeFailsAfterTheBreakDecision) {
  // A float64 buffer at another rate: the gathered 48000 Hz audio goes out
  // first, the accumulator takes the buffer's rate and time, and nothing of
  // the buffer is appended.
  platform::AudioFormat format;
  format.sampleRate = 8000.0;
  format.sampleType = SampleType::float64;
  const auto error = appendCatching(SimSampleBuffer(format, 80, 0.5));
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->code(), 2);
  const auto events = output.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["sampleRate"], 48000);
  EXPECT_EQ(events[0]["durationMs"], 100);
  EXPECT_EQ(chunks.rate(), 8000);
  EXPECT_EQ(chunks.startMs(), 500.0);
  EXPECT_EQ(chunks.pendingSamples(), 0);
  EXPECT_EQ(chunks.level(), 1.0);
  EXPECT_EQ(chunks.lastPacket(), 50.0);
}

TEST_F(AudioChunksErrors, TheWidestAcceptedFormatsAreConverted) {
  struct Accepted {
    const char* name;
    SimSampleBuffer buffer;
  };
  const Accepted cases[] = {
      {"32 channels", SimSampleBuffer::silence(480, 48000.0, 32, false, 0.1)},
      {"8000 Hz", SimSampleBuffer::silence(80, 8000.0, 1, true, 0.1)},
      {"192000 Hz", SimSampleBuffer::silence(1920, 192000.0, 1, true, 0.1)},
      {"192000 frames", SimSampleBuffer::silence(192000, 48000.0, 2, true, 0.1)},
  };
  for (const auto& c : cases) {
    clock.uptime += 1.0;
    EXPECT_FALSE(appendCatching(c.buffer).has_value()) << c.name;
    EXPECT_EQ(chunks.level(), 0.0) << c.name;
    EXPECT_EQ(chunks.lastPacket(), clock.uptime) << c.name;
  }
}

TEST(AudioChunksArrival, LastPacketIsTheUptimeOfTheLatestSuccessfulAppend) {
  testing::CapturedOutput output;
  testing::ManualClock clock;
  AudioChunks chunks("job", "system", 0.0, clock);
  EXPECT_EQ(chunks.lastPacket(), 0.0);
  EXPECT_EQ(chunks.level(), 0.0);
  clock.uptime = 12.5;
  chunks.append(SimSampleBuffer::constant<float>(0.1f, 480, 48000.0));
  EXPECT_EQ(chunks.lastPacket(), 12.5);
  clock.uptime = 13.5;
  chunks.append(SimSampleBuffer::silence(480, 48000.0, 1, true, 0.01));
  EXPECT_EQ(chunks.lastPacket(), 13.5);
  EXPECT_EQ(chunks.level(), 0.0);  // each buffer replaces the level, no decay
}

}  // namespace
}  // namespace mirevo
