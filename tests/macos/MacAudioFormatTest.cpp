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
        audioFormatOf({48000.0, 2, false, static_cast<CommonFormat>(c.commonFormat)});
    EXPECT_EQ(format.sampleType, c.expected) << "common format " << c.commonFormat;
  }
}

TEST(MacAudioFormat, RateChannelsAndLayoutPassUnchanged) {
  const AudioFormat planar = audioFormatOf({44100.5, 33, false, CommonFormat::float32});
  EXPECT_EQ(planar.sampleRate, 44100.5);
  EXPECT_EQ(planar.channelCount, 33u);
  EXPECT_FALSE(planar.interleaved);

  const AudioFormat packed = audioFormatOf({8000.0, 1, true, CommonFormat::int16});
  EXPECT_EQ(packed.sampleRate, 8000.0);
  EXPECT_EQ(packed.channelCount, 1u);
  EXPECT_TRUE(packed.interleaved);
}

}  // namespace
}  // namespace mirevo::platform::mac
