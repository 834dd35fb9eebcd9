#include <algorithm>
#include <cmath>
#include <cstdint>

#include "capture/Capture.hpp"
#include "events/Output.hpp"

namespace mirevo {
namespace {

// A source counts as active while its last successful append is less than
// this old; one that never delivered is not active.
constexpr double kActivityWindowSeconds = 3.0;

bool isActive(double lastPacket, double now) {
  return lastPacket > 0.0 && now - lastPacket < kActivityWindowSeconds;
}

// Whole seconds, never negative; a reading that makes no sense counts as 0.
std::int64_t wholeSeconds(double elapsed) {
  if (!(elapsed > 0.0)) return 0;
  if (elapsed >= 0x1p63) return INT64_MAX;
  return static_cast<std::int64_t>(std::trunc(elapsed));
}

// An inactive source reports the integer 0, not its last level.
nlohmann::json levelOf(const audio::AudioChunks& source, bool active) {
  if (!active) return 0;
  return source.level();
}

}  // namespace

void Capture::heartbeat() {
  if (stopped_) return;
  const double now = platform_.clock.uptimeSeconds();
  const double elapsed = platform_.clock.hostSeconds() - origin_;
  const bool microphoneActive = isActive(microphone_->lastPacket(), now);
  const bool systemActive = isActive(system_->lastPacket(), now);

  Output::emit({
      {"type", "status"},
      {"state", "recording"},
      {"sessionId", session_},
      {"elapsedSeconds", wholeSeconds(elapsed)},
      {"microphoneLevel", levelOf(*microphone_, microphoneActive)},
      {"systemLevel", levelOf(*system_, systemActive)},
      {"microphoneAudioState", microphoneActive ? "active" : "warning"},
      {"systemAudioState", systemActive ? "active" : "waiting"},
      {"message", microphoneActive ? "Recording microphone and system audio."
                                   : "Waiting for microphone audio. Check your input device."},
  });
}

}  // namespace mirevo
