// The order in which the core called the simulated platform, for assertions:
// "requestMicrophoneAccess", "shareableContent", "makeStream",
// "addStreamOutput 1", "startCapture", "stopCapture", "destroyStream",
// "defaultAudioDevice", "discoverAudioDevices".
//
// Threads: any.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace mirevo::platform::sim {

class SimCallLog {
 public:
  void record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  bool contains(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return std::find(calls_.begin(), calls_.end(), call) != calls_.end();
  }
  void clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace mirevo::platform::sim
