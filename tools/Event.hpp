// The agent's events as the inspector reads them: one plain record per event
// type, holding the values the checks, the report and the WAV files need.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace mirevo::inspect {

struct AudioChunkEvent {
  std::string jobId;
  std::string source;  // "microphone" or "system"
  std::int64_t sequence = 0;
  std::int64_t startedAtMs = 0;
  std::int64_t durationMs = 0;
  std::int64_t sampleRate = 0;
  std::vector<std::int16_t> samples;  // empty when the data did not decode
};

struct StatusEvent {
  std::string sessionId;
  std::int64_t elapsedSeconds = 0;
  double microphoneLevel = 0.0;
  double systemLevel = 0.0;
  bool microphoneActive = false;
  bool systemActive = false;
};

struct CompletedEvent {
  std::string sessionId;
};

struct FailedEvent {
  std::string message;
  std::optional<std::string> sessionId;
};

struct DevicesEvent {
  std::vector<std::string> labels;
};

struct SelfTestEvent {};

using Event = std::variant<AudioChunkEvent, StatusEvent, CompletedEvent, FailedEvent, DevicesEvent,
                           SelfTestEvent>;

}  // namespace mirevo::inspect
