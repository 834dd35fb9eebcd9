#include "WavTrack.hpp"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <numeric>

namespace mirevo::inspect {
namespace {

class WavTrackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("wav-track-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
              "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::vector<std::int16_t> readBack(const std::filesystem::path& path, int& rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(info.channels, 1);
    rate = info.samplerate;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames));
    sf_read_short(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
  }

  std::filesystem::path folder;
};

AudioChunkEvent chunk(std::int64_t startedAtMs, std::vector<std::int16_t> samples,
                      std::int64_t rate = 1000) {
  return {"job", "system", 0, startedAtMs, 0, rate, std::move(samples)};
}

TEST_F(WavTrackTest, PlacesChunksAtTheirTimesWithSilenceAndOverwrites) {
  const auto path = folder / "track.wav";
  {
    WavTrack track(path, 1000);               // one sample per millisecond keeps positions readable
    track.place(chunk(2, {1, 2, 3}), false);  // 2 ms of silence first
    track.place(chunk(6, {4, 5}), true);      // continues right after, at 5
    track.place(chunk(10, {6}), false);       // gap of 3 ms
    track.place(chunk(3, {7, 8}), false);     // overlap: overwrites 2 and 3
  }
  int rate = 0;
  EXPECT_EQ(readBack(path, rate), (std::vector<std::int16_t>{0, 0, 1, 7, 8, 4, 5, 0, 0, 0, 6}));
  EXPECT_EQ(rate, 1000);
}

TEST_F(WavTrackTest, ALaterRateIsResampledToTheFirst) {
  const auto path = folder / "rates.wav";
  {
    WavTrack track(path, 1000);
    track.place(chunk(0, {10, 20}), false);
    track.place(chunk(2, {30, 40, 50, 60}, 2000), true);  // 2 ms at twice the rate
  }
  int rate = 0;
  EXPECT_EQ(readBack(path, rate), (std::vector<std::int16_t>{10, 20, 30, 50}));
}

TEST(ResampleLinear, InterpolatesBetweenNeighbours) {
  const std::vector<std::int16_t> input{0, 100, 200};
  EXPECT_EQ(resampleLinear(input, 1000, 2000),
            (std::vector<std::int16_t>{0, 50, 100, 150, 200, 200}));
  EXPECT_EQ(resampleLinear(input, 1000, 1000), input);
}

TEST_F(WavTrackTest, ALongSilenceIsWrittenInFull) {
  const auto path = folder / "long.wav";
  {
    WavTrack track(path, 48000);
    track.place(chunk(2000, {9}, 48000), false);  // two seconds in
  }
  int rate = 0;
  const auto samples = readBack(path, rate);
  ASSERT_EQ(samples.size(), 96001u);
  EXPECT_EQ(std::accumulate(samples.begin(), samples.end() - 1, 0), 0);
  EXPECT_EQ(samples.back(), 9);
}

// A wild time (a corrupt stream) must not fill the disk with silence: what
// lies past the format's 4 GiB is left out, and what came before stays.
TEST_F(WavTrackTest, AChunkPastWhatTheFormatHoldsIsLeftOut) {
  const auto path = folder / "wild.wav";
  {
    WavTrack track(path, 48000);
    EXPECT_TRUE(track.place(chunk(0, {1, 2}, 48000), false));
    EXPECT_FALSE(track.place(chunk(3'200'000'000'000, {3}, 48000), false));
    const std::int64_t lastMs = WavTrack::kMaxFrames / 48;  // ends just past the limit
    EXPECT_FALSE(track.place(chunk(lastMs, std::vector<std::int16_t>(48, 4), 48000), false));
    EXPECT_TRUE(track.place(chunk(0, {5}, 48000), true));
  }
  int rate = 0;
  EXPECT_EQ(readBack(path, rate), (std::vector<std::int16_t>{1, 2, 5}));
}

}  // namespace
}  // namespace mirevo::inspect
