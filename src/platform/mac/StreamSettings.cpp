#include "platform/mac/StreamSettings.hpp"

#include <algorithm>

namespace mirevo::platform::mac {
namespace {

Setting flag(SettingKey key, bool value) {
  Setting setting;
  setting.key = key;
  setting.flag = value;
  return setting;
}

Setting number(SettingKey key, std::int64_t value) {
  Setting setting;
  setting.key = key;
  setting.number = value;
  return setting;
}

}  // namespace

std::vector<Setting> streamSettings(const StreamConfiguration& configuration) {
  std::vector<Setting> settings;
  settings.push_back(flag(SettingKey::capturesAudio, configuration.capturesAudio));
  settings.push_back(flag(SettingKey::captureMicrophone, configuration.captureMicrophone));
  // Left unset, the system picks the microphone.
  if (configuration.microphoneCaptureDeviceID) {
    Setting device;
    device.key = SettingKey::microphoneCaptureDeviceID;
    device.text = *configuration.microphoneCaptureDeviceID;
    settings.push_back(device);
  }
  settings.push_back(
      flag(SettingKey::excludesCurrentProcessAudio, configuration.excludesCurrentProcessAudio));
  settings.push_back(number(SettingKey::sampleRate, configuration.sampleRate));
  settings.push_back(number(SettingKey::channelCount, configuration.channelCount));
  settings.push_back(number(SettingKey::width, std::max(0, configuration.width)));
  settings.push_back(number(SettingKey::height, std::max(0, configuration.height)));
  Setting interval;
  interval.key = SettingKey::minimumFrameInterval;
  interval.time = configuration.minimumFrameInterval;
  settings.push_back(interval);
  settings.push_back(flag(SettingKey::showsCursor, configuration.showsCursor));
  return settings;
}

}  // namespace mirevo::platform::mac
