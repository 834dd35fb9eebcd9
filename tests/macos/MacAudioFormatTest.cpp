#include "platform/mac/MacAudioFormat.hpp"

#include <gtest/gtest.h>

namespace mirevo::platform::mac {
namespace {

TEST(MacAudioFormat, EachCommonFormatGivesItsSampleType) {
  struct Case {
    unsigned long commonFormat;
    SampleType expected;
  };
  // AVAudioCommonFormat's numbers, and one that no system has used yet.
  const Case cases[] = {
      {0, SampleType::compressed}, {1, SampleType::float32}, {2, SampleType::float64},
      {3, SampleType::int16},      {4, SampleType::int32},   {9, SampleType::compressed},
  };
  for (const Case& c : cases) {
    const AudioFormat format =
        audioFormatOf({48000.0, 2, false, static_cast<CommonFormat>(c.commonFormat), {}});
    EXPECT_EQ(format.sampleType, c.expected) << "common format " << c.commonFormat;
  }
}

// Formats AVAudioFormat calls "other": what the stream description says
// decides. Microphones deliver packed 24-bit and 8-bit integers.
TEST(MacAudioFormat, OtherFormatsAreReadFromTheStreamDescription) {
  constexpr std::uint32_t kSigned = kFormatFlagIsSignedInteger;
  struct Case {
    const char* name;
    std::uint32_t channels;
    bool interleaved;
    StreamFacts stream;
    SampleType expected;
  };
  const Case cases[] = {
      {"packed 24-bit stereo interleaved", 2, true, {true, kSigned, 6, 24}, SampleType::int24},
      {"packed 24-bit planar", 3, false, {true, kSigned, 3, 24}, SampleType::int24},
      {"signed 8-bit mono", 1, true, {true, kSigned, 1, 8}, SampleType::int8},
      {"unsigned 8-bit stereo", 2, true, {true, 0, 2, 8}, SampleType::uint8},
      {"24 bits aligned in 4 bytes", 2, true, {true, kSigned, 8, 24}, SampleType::compressed},
      {"big-endian 24-bit",
       1,
       true,
       {true, kSigned | kFormatFlagIsBigEndian, 3, 24},
       SampleType::compressed},
      {"24-bit float", 1, true, {true, kFormatFlagIsFloat, 3, 24}, SampleType::compressed},
      {"12-bit", 1, true, {true, kSigned, 2, 12}, SampleType::compressed},
      {"not linear PCM", 1, true, {false, kSigned, 3, 24}, SampleType::compressed},
      {"no channels", 0, true, {true, kSigned, 3, 24}, SampleType::compressed},
  };
  for (const Case& c : cases) {
    const AudioFormat format =
        audioFormatOf({48000.0, c.channels, c.interleaved, CommonFormat::other, c.stream});
    EXPECT_EQ(format.sampleType, c.expected) << c.name;
  }
  // A common format is taken as it is, whatever the description adds.
  EXPECT_EQ(
      audioFormatOf({48000.0, 1, true, CommonFormat::int16, {true, kSigned, 3, 24}}).sampleType,
      SampleType::int16);
}

TEST(MacAudioFormat, RateChannelsAndLayoutPassUnchanged) {
  const AudioFormat planar = audioFormatOf({44100.5, 33, false, CommonFormat::float32, {}});
  EXPECT_EQ(planar.sampleRate, 44100.5);
  EXPECT_EQ(planar.channelCount, 33u);
  EXPECT_FALSE(planar.interleaved);

  const AudioFormat packed = audioFormatOf({8000.0, 1, true, CommonFormat::int16, {}});
  EXPECT_EQ(packed.sampleRate, 8000.0);
  EXPECT_EQ(packed.channelCount, 1u);
  EXPECT_TRUE(packed.interleaved);
}

// The stream description's fields become the facts; only linear PCM is PCM,
// and a buffer without a description has no facts.
TEST(MacAudioFormat, StreamFactsComeFromTheStreamDescription) {
  const StreamDescription pcm{kFormatIdLinearPcm, kFormatFlagIsSignedInteger, 6, 24};
  const StreamFacts facts = streamFactsOf(&pcm);
  EXPECT_TRUE(facts.linearPcm);
  EXPECT_EQ(facts.formatFlags, kFormatFlagIsSignedInteger);
  EXPECT_EQ(facts.bytesPerFrame, 6u);
  EXPECT_EQ(facts.bitsPerChannel, 24u);

  const StreamDescription aac{0x61616320 /* 'aac ' */, 0, 0, 0};
  EXPECT_FALSE(streamFactsOf(&aac).linearPcm);
  const StreamFacts none = streamFactsOf(nullptr);
  EXPECT_FALSE(none.linearPcm);
  EXPECT_EQ(none.bytesPerFrame, 0u);
  // Without facts an "other" format cannot be held.
  EXPECT_EQ(audioFormatOf({48000.0, 1, true, CommonFormat::other, none}).sampleType,
            SampleType::compressed);
}

}  // namespace
}  // namespace mirevo::platform::mac
