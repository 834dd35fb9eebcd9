#include "platform/mac/BufferListShape.hpp"

#include <gtest/gtest.h>

namespace mirevo::platform::mac {
namespace {

AudioFormat formatOf(SampleType type, std::uint32_t channels, bool interleaved) {
  AudioFormat format;
  format.sampleRate = 48000.0;
  format.channelCount = channels;
  format.interleaved = interleaved;
  format.sampleType = type;
  return format;
}

TEST(BufferListShape, InterleavedAudioIsOneBufferWithEveryChannel) {
  PcmBuffer pcm;
  ASSERT_TRUE(pcm.prepare(formatOf(SampleType::float32, 2, true), 480));
  const auto shape = bufferListShape(pcm);
  ASSERT_TRUE(shape);
  EXPECT_EQ(shape->frames, 480);
  ASSERT_EQ(shape->count, 1u);
  EXPECT_EQ(shape->arrays[0].channels, 2u);
  EXPECT_EQ(shape->arrays[0].byteSize, 480u * 2 * 4);
  EXPECT_EQ(shape->arrays[0].data, pcm.arrayBytes(0).data());
}

TEST(BufferListShape, PlanarAudioIsOneBufferPerChannel) {
  PcmBuffer pcm;
  ASSERT_TRUE(pcm.prepare(formatOf(SampleType::int16, 3, false), 1024));
  const auto shape = bufferListShape(pcm);
  ASSERT_TRUE(shape);
  EXPECT_EQ(shape->frames, 1024);
  ASSERT_EQ(shape->count, 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(shape->arrays[i].channels, 1u);
    EXPECT_EQ(shape->arrays[i].byteSize, 1024u * 2);
    EXPECT_EQ(shape->arrays[i].data, pcm.arrayBytes(i).data());
  }
}

TEST(BufferListShape, ThirtyTwoPlanarChannelsFitAndThirtyThreeDoNot) {
  PcmBuffer pcm;
  ASSERT_TRUE(pcm.prepare(formatOf(SampleType::float32, 32, false), 16));
  const auto fits = bufferListShape(pcm);
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->count, 32u);
  EXPECT_EQ(fits->arrays[31].data, pcm.arrayBytes(31).data());

  ASSERT_TRUE(pcm.prepare(formatOf(SampleType::float32, 33, false), 16));
  EXPECT_FALSE(bufferListShape(pcm));
  // Interleaved, any number of channels is one buffer.
  ASSERT_TRUE(pcm.prepare(formatOf(SampleType::float32, 33, true), 16));
  EXPECT_TRUE(bufferListShape(pcm));
}

}  // namespace
}  // namespace mirevo::platform::mac
