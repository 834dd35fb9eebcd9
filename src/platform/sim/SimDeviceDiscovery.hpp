// Scriptable audio input devices: a list and an optional default, changeable
// between calls like devices being plugged in and removed.
//
// Threads: any.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "platform/DeviceDiscovery.hpp"
#include "platform/sim/SimCallLog.hpp"

namespace mirevo::platform::sim {

class SimDeviceDiscovery final : public DeviceDiscovery {
 public:
  explicit SimDeviceDiscovery(SimCallLog& calls) : calls_(calls) {}

  void setDevices(std::vector<CaptureDevice> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
  }
  // The default need not be among the listed devices.
  void setDefault(std::optional<CaptureDevice> device) {
    std::lock_guard lock(mutex_);
    default_ = std::move(device);
  }

  std::optional<CaptureDevice> defaultAudioDevice() override {
    calls_.record("defaultAudioDevice");
    std::lock_guard lock(mutex_);
    return default_;
  }
  std::vector<CaptureDevice> discoverAudioDevices() override {
    calls_.record("discoverAudioDevices");
    std::lock_guard lock(mutex_);
    return devices_;
  }

 private:
  SimCallLog& calls_;
  std::mutex mutex_;
  std::vector<CaptureDevice> devices_;
  std::optional<CaptureDevice> default_;
};

}  // namespace mirevo::platform::sim
