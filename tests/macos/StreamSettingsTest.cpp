#include "platform/mac/StreamSettings.hpp"

#include <gtest/gtest.h>

namespace mirevo::platform::mac {
namespace {

// What a recording asks for: both audio sources at 48 kHz mono, the smallest
// video.
StreamConfiguration recordingConfiguration() {
  StreamConfiguration configuration;
  configuration.capturesAudio = true;
  configuration.captureMicrophone = true;
  configuration.excludesCurrentProcessAudio = true;
  configuration.sampleRate = 48000;
  configuration.channelCount = 1;
  configuration.width = 2;
  configuration.height = 2;
  configuration.minimumFrameInterval = MediaTime{1, 1};
  configuration.showsCursor = false;
  return configuration;
}

std::vector<SettingKey> keysOf(const std::vector<Setting>& settings) {
  std::vector<SettingKey> keys;
  for (const Setting& setting : settings) keys.push_back(setting.key);
  return keys;
}

TEST(StreamSettings, AllTenValuesInOrderWhenAMicrophoneIsNamed) {
  StreamConfiguration configuration = recordingConfiguration();
  configuration.microphoneCaptureDeviceID = "BuiltInMicrophoneDevice";
  const auto settings = streamSettings(configuration);
  using K = SettingKey;
  ASSERT_EQ(keysOf(settings),
            (std::vector<K>{K::capturesAudio, K::captureMicrophone, K::microphoneCaptureDeviceID,
                            K::excludesCurrentProcessAudio, K::sampleRate, K::channelCount,
                            K::width, K::height, K::minimumFrameInterval, K::showsCursor}));
  EXPECT_EQ(settings[0].flag, true);
  EXPECT_EQ(settings[1].flag, true);
  EXPECT_EQ(settings[2].text, "BuiltInMicrophoneDevice");
  EXPECT_EQ(settings[3].flag, true);
  EXPECT_EQ(settings[4].number, 48000);
  EXPECT_EQ(settings[5].number, 1);
  EXPECT_EQ(settings[6].number, 2);
  EXPECT_EQ(settings[7].number, 2);
  const MediaTime interval = settings[8].time;
  EXPECT_EQ(interval.value, 1);
  EXPECT_EQ(interval.timescale, 1);
  EXPECT_EQ(settings[9].flag, false);
}

TEST(StreamSettings, WithoutAMicrophoneItsDeviceIsLeftUnset) {
  const auto settings = streamSettings(recordingConfiguration());
  ASSERT_EQ(settings.size(), 9u);
  for (const Setting& setting : settings) {
    EXPECT_NE(setting.key, SettingKey::microphoneCaptureDeviceID);
  }
  EXPECT_EQ(settings[2].key, SettingKey::excludesCurrentProcessAudio);
}

TEST(StreamSettings, AnEmptyDeviceNameIsStillSet) {
  StreamConfiguration configuration = recordingConfiguration();
  configuration.microphoneCaptureDeviceID = "";
  const auto settings = streamSettings(configuration);
  ASSERT_EQ(settings[2].key, SettingKey::microphoneCaptureDeviceID);
  EXPECT_EQ(settings[2].text, "");
}

TEST(StreamSettings, NegativeSizesReadAsZero) {
  StreamConfiguration configuration = recordingConfiguration();
  configuration.width = -1;
  configuration.height = -1080;
  const auto settings = streamSettings(configuration);
  EXPECT_EQ(settings[5].number, 0);
  EXPECT_EQ(settings[6].number, 0);
}

}  // namespace
}  // namespace mirevo::platform::mac
