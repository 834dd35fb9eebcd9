// The values a stream configuration sets on ScreenCaptureKit's
// SCStreamConfiguration, in the order they are set: system audio, microphone,
// the microphone's device (only when one is named), own audio excluded,
// sample rate, channel count, width, height, minimum frame interval, cursor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/CaptureService.hpp"

namespace mirevo::platform::mac {

enum class SettingKey {
  capturesAudio,
  captureMicrophone,
  microphoneCaptureDeviceID,
  excludesCurrentProcessAudio,
  sampleRate,
  channelCount,
  width,
  height,
  minimumFrameInterval,
  showsCursor,
};

// One value; the field its key uses holds it: `flag` for the flags, `number`
// for sample rate, channel count and the sizes (a negative size reads as 0,
// since the sizes are unsigned there), `text` for the device, `time` for the
// frame interval.
struct Setting {
  SettingKey key = SettingKey::capturesAudio;
  bool flag = false;
  std::int64_t number = 0;
  std::string text;
  MediaTime time;
};

std::vector<Setting> streamSettings(const StreamConfiguration& configuration);

}  // namespace mirevo::platform::mac
