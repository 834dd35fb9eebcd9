// What the inspector learns about each recording in a stream: per source the
// chunk timeline with its breaks, the heartbeat's levels, and how it ended.
// Audio itself is not kept here; it goes straight to the WAV files.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace mirevo::inspect {

struct ChunkSpan {
  std::int64_t line = 0;
  std::int64_t sequence = 0;
  std::int64_t startedAtMs = 0;
  double lengthMs = 0.0;  // exact, from the sample count
  std::int64_t sampleRate = 0;
};

// A chunk that does not begin where the previous one of its source ended.
struct Break {
  enum class Kind { gap, overlap };
  Kind kind = Kind::gap;
  std::int64_t line = 0;
  double expectedMs = 0.0;  // where the previous chunk ended
  double sizeMs = 0.0;      // always positive
};

struct SourceTimeline {
  std::vector<ChunkSpan> chunks;
  std::vector<Break> breaks;
  std::set<std::int64_t> sampleRates;
  std::int64_t samples = 0;
  double audioMs = 0.0;
  bool sequenceContinuous = true;
};

struct LevelSample {
  std::int64_t elapsedSeconds = 0;
  double microphone = 0.0;
  double system = 0.0;
  bool microphoneActive = false;
  bool systemActive = false;
};

struct InspectedRecording {
  enum class End { open, completed, failed };

  int number = 0;  // 1 for the stream's first recording
  std::optional<std::string> sessionId;
  std::optional<std::string> jobId;
  SourceTimeline microphone;
  SourceTimeline system;
  std::vector<LevelSample> levels;
  End end = End::open;
  std::string failureMessage;
  std::int64_t endLine = 0;

  SourceTimeline& timeline(const std::string& source) {
    return source == "microphone" ? microphone : system;
  }
  const SourceTimeline& timeline(const std::string& source) const {
    return source == "microphone" ? microphone : system;
  }
};

// How a recording ended, in words.
inline std::string describeEnd(const InspectedRecording& recording) {
  switch (recording.end) {
    case InspectedRecording::End::completed:
      return "completed";
    case InspectedRecording::End::failed:
      return "failed: " + recording.failureMessage;
    case InspectedRecording::End::open:
      break;
  }
  return "not ended (no completed or failed in the stream)";
}

// An event outside any recording worth a line in the report: a rejected
// command, a failed start, a device list.
struct Note {
  std::int64_t line = 0;
  std::string text;
};

}  // namespace mirevo::inspect
