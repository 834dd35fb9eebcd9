// A session on the simulated platform, with helpers to play the platform's
// part: buffers of a known length and level, delivered onto the session's
// queue, and the queue drained on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capture/Capture.hpp"
#include "platform/sim/SimPlatform.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace mirevo::testing {

namespace sim = platform::sim;

inline constexpr double kOriginSeconds = 100.0;  // host clock at start
inline constexpr double kBootSeconds = 5000.0;   // uptime at start

// Mono float audio at 48 kHz: `frames` samples of `value`, presented
// `offsetSeconds` after the session's origin.
inline std::shared_ptr<const platform::SampleBuffer> tone(float value, std::int64_t frames,
                                                          double offsetSeconds) {
  return std::make_shared<sim::SimSampleBuffer>(sim::SimSampleBuffer::constant<float>(
      value, frames, 48000.0, 1, true, kOriginSeconds + offsetSeconds));
}

// Audio the converter refuses ("Unsupported PCM sample type.").
inline std::shared_ptr<const platform::SampleBuffer> unconvertible() {
  return std::make_shared<sim::SimSampleBuffer>(
      sim::SimSampleBuffer::constant<double>(0.5, 480, 48000.0, 1, true, kOriginSeconds));
}

// Clocks at known readings, two microphones, the built-in one the default.
inline void prepare(sim::SimPlatform& sim) {
  sim.clock.setHostSeconds(kOriginSeconds);
  sim.clock.setUptimeSeconds(kBootSeconds);
  sim.devices.setDevices({{"builtin-mic", "Built-in Microphone"}, {"usb-3", "USB Headset"}});
  sim.devices.setDefault(platform::CaptureDevice{"builtin-mic", "Built-in Microphone"});
}

class SimSession {
 public:
  explicit SimSession(sim::SimQueues queues = sim::SimQueues::manual, std::string id = "sess-1")
      : sim(queues) {
    prepare(sim);
    capture = std::make_shared<Capture>(std::move(id), sim.platform());
  }

  void start(const std::optional<std::string>& device = std::nullopt) {
    capture->start("job-7", device);
  }

  // Delivers as the platform would; fails the test if the stream would not.
  void deliver(int outputType, std::shared_ptr<const platform::SampleBuffer> buffer) {
    EXPECT_TRUE(sim.capture.deliver(outputType, std::move(buffer)));
  }
  void deliverMicrophone(float value, std::int64_t frames, double offsetSeconds) {
    deliver(platform::kOutputTypeMicrophone, tone(value, frames, offsetSeconds));
  }
  void deliverSystem(float value, std::int64_t frames, double offsetSeconds) {
    deliver(platform::kOutputTypeAudio, tone(value, frames, offsetSeconds));
  }

  std::size_t drain() { return sim.runPending(); }

  sim::SimPlatform sim;
  std::shared_ptr<Capture> capture;
};

// The (source, sequence, durationMs) of every audio_chunk, and the type of
// every other event, in order: a compact picture of an event stream.
inline std::vector<std::string> outline(const std::vector<nlohmann::json>& events) {
  std::vector<std::string> result;
  for (const auto& event : events) {
    const std::string type = event.at("type");
    if (type == "audio_chunk") {
      result.push_back("chunk " + event.at("source").get<std::string>() + " " +
                       std::to_string(event.at("sequence").get<std::int64_t>()) + " " +
                       std::to_string(event.at("durationMs").get<std::int64_t>()) + "ms");
    } else {
      result.push_back(type);
    }
  }
  return result;
}

}  // namespace mirevo::testing
