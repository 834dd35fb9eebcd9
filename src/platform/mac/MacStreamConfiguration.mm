#include "platform/mac/MacStreamConfiguration.hpp"

#include "platform/mac/ObjCBridge.hpp"
#include "platform/mac/StreamSettings.hpp"

namespace mirevo::platform::mac {
namespace {

void apply(SCStreamConfiguration* target, const Setting& setting) {
  switch (setting.key) {
    case SettingKey::capturesAudio:
      target.capturesAudio = setting.flag;
      break;
    case SettingKey::captureMicrophone:
      target.captureMicrophone = setting.flag;
      break;
    case SettingKey::microphoneCaptureDeviceID:
      target.microphoneCaptureDeviceID = nsString(setting.text);
      break;
    case SettingKey::excludesCurrentProcessAudio:
      target.excludesCurrentProcessAudio = setting.flag;
      break;
    case SettingKey::sampleRate:
      target.sampleRate = static_cast<NSInteger>(setting.number);
      break;
    case SettingKey::channelCount:
      target.channelCount = static_cast<NSInteger>(setting.number);
      break;
    case SettingKey::width:
      target.width = static_cast<size_t>(setting.number);
      break;
    case SettingKey::height:
      target.height = static_cast<size_t>(setting.number);
      break;
    case SettingKey::minimumFrameInterval:
      target.minimumFrameInterval = CMTimeMake(setting.time.value, setting.time.timescale);
      break;
    case SettingKey::showsCursor:
      target.showsCursor = setting.flag;
      break;
  }
}

}  // namespace

SCStreamConfiguration* makeStreamConfiguration(const StreamConfiguration& configuration) {
  SCStreamConfiguration* result = [[SCStreamConfiguration alloc] init];
  for (const Setting& setting : streamSettings(configuration)) apply(result, setting);
  return result;
}

}  // namespace mirevo::platform::mac
