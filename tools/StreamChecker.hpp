// Follows the events of a stream in order, groups them into recordings, and
// finds what breaks the protocol across lines: a `sequence` that skips or
// repeats, and any event of a session after its `completed` or `failed`.
// It also measures each source's timeline (breaks, sample rates, duration).
//
// The agent records at most one session at a time, so a chunk belongs to the
// recording in progress. A recording begins with its first `status` or chunk
// and ends with `completed`, or with a `failed` that carries its session.
// A `failed` for a session that is not recording is a start that failed; the
// clean-up `completed` that may follow it is expected. A session identifier
// may be used again by a later recording, whose first `status` then says 0
// elapsed seconds.
//
// Threads: one caller at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Event.hpp"
#include "InspectedRecording.hpp"

namespace mirevo::inspect {

struct Violation {
  std::int64_t line = 0;
  std::string text;
};

// Where an accepted chunk's audio goes.
struct ChunkPlacement {
  int recording = 0;  // InspectedRecording::number
  // True when the chunk begins where the previous chunk of its source ended
  // (within the 1 ms that rounding to whole milliseconds allows).
  bool continues = false;
  // Where the chunk begins on the recording's time axis: where the previous
  // one ended when it continues it, free of that rounding; else `startedAtMs`.
  double startMs = 0.0;
};

class StreamChecker {
 public:
  // Takes the event read from `line`; adds what it breaks to `violations`.
  // Returns a placement for an audio chunk that belongs to a recording.
  std::optional<ChunkPlacement> accept(std::int64_t line, const Event& event,
                                       std::vector<Violation>& violations);

  const std::vector<InspectedRecording>& recordings() const { return recordings_; }
  const std::vector<Note>& notes() const { return notes_; }

 private:
  struct SourceProgress {
    std::int64_t nextSequence = 0;
    std::optional<double> endMs;  // where the last chunk ended
  };
  struct Progress {
    SourceProgress microphone;
    SourceProgress system;
  };

  std::optional<ChunkPlacement> acceptChunk(std::int64_t line, const AudioChunkEvent& chunk,
                                            std::vector<Violation>& violations);
  void acceptStatus(std::int64_t line, const StatusEvent& status,
                    std::vector<Violation>& violations);
  void acceptCompleted(std::int64_t line, const CompletedEvent& completed,
                       std::vector<Violation>& violations);
  void acceptFailed(std::int64_t line, const FailedEvent& failed,
                    std::vector<Violation>& violations);

  InspectedRecording* inProgress();
  InspectedRecording* lastEnded();
  InspectedRecording& begin();
  // Measures the chunk into its source's timeline and says where it goes.
  ChunkPlacement placeOnTimeline(std::int64_t line, const AudioChunkEvent& chunk,
                                 SourceProgress& progress, SourceTimeline& timeline);
  void checkSequence(std::int64_t line, const AudioChunkEvent& chunk, SourceProgress& progress,
                     SourceTimeline& timeline, std::vector<Violation>& violations);

  std::vector<InspectedRecording> recordings_;
  std::vector<Progress> progress_;  // one per recording
  std::set<std::string> failedStarts_;
  std::vector<Note> notes_;
};

}  // namespace mirevo::inspect
