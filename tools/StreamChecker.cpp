#include "StreamChecker.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::inspect {
namespace {

// Answers to commands the agent refused; they never end a recording.
bool isCommandRejection(const std::string& message) {
  return message == "Invalid start request or capture already active." ||
         message == "No active recording session." || message == "Unknown capture command.";
}

// Rounding each chunk's start to whole milliseconds moves it by up to 0.5 ms,
// so two neighbours may seem up to 1 ms apart.
constexpr double kRoundingToleranceMs = 1.0 + 1e-9;

// "completed" or "failed", for a recording that has ended.
std::string endWord(const InspectedRecording& recording) {
  return recording.end == InspectedRecording::End::failed ? "failed" : "completed";
}

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
// Clang before 17 deduces no template arguments for an aggregate by itself.
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

std::optional<ChunkPlacement> StreamChecker::accept(std::int64_t line, const Event& event,
                                                    std::vector<Violation>& violations) {
  return std::visit(
      Overloaded{
          [&](const AudioChunkEvent& chunk) { return acceptChunk(line, chunk, violations); },
          [&](const StatusEvent& status) -> std::optional<ChunkPlacement> {
            acceptStatus(line, status, violations);
            return std::nullopt;
          },
          [&](const CompletedEvent& completed) -> std::optional<ChunkPlacement> {
            acceptCompleted(line, completed, violations);
            return std::nullopt;
          },
          [&](const FailedEvent& failed) -> std::optional<ChunkPlacement> {
            acceptFailed(line, failed, violations);
            return std::nullopt;
          },
          [&](const DevicesEvent& devices) -> std::optional<ChunkPlacement> {
            std::string text = "devices: " + std::to_string(devices.labels.size()) + " input(s)";
            for (std::size_t i = 0; i < devices.labels.size(); ++i)
              text += (i == 0 ? ": " : ", ") + devices.labels[i];
            notes_.push_back({line, text});
            return std::nullopt;
          },
          [&](const SelfTestEvent&) -> std::optional<ChunkPlacement> {
            notes_.push_back({line, "self_test"});
            return std::nullopt;
          },
      },
      event);
}

InspectedRecording* StreamChecker::inProgress() {
  if (recordings_.empty() || recordings_.back().end != InspectedRecording::End::open)
    return nullptr;
  return &recordings_.back();
}

InspectedRecording* StreamChecker::lastEnded() {
  if (recordings_.empty() || recordings_.back().end == InspectedRecording::End::open)
    return nullptr;
  return &recordings_.back();
}

InspectedRecording& StreamChecker::begin() {
  InspectedRecording& recording = recordings_.emplace_back();
  recording.number = static_cast<int>(recordings_.size());
  progress_.emplace_back();
  return recording;
}

std::optional<ChunkPlacement> StreamChecker::acceptChunk(std::int64_t line,
                                                         const AudioChunkEvent& chunk,
                                                         std::vector<Violation>& violations) {
  InspectedRecording* recording = inProgress();
  if (recording != nullptr && recording->jobId && *recording->jobId != chunk.jobId) {
    violations.push_back({line, "audio_chunk of job \"" + chunk.jobId + "\" while job \"" +
                                    *recording->jobId + "\" is recording"});
    return std::nullopt;
  }
  if (recording == nullptr) {
    const InspectedRecording* ended = lastEnded();
    if (ended != nullptr && ended->jobId == chunk.jobId) {
      violations.push_back({line, "audio_chunk of job \"" + chunk.jobId + "\" after its session " +
                                      endWord(*ended) + " (line " + std::to_string(ended->endLine) +
                                      ")"});
      return std::nullopt;
    }
    recording = &begin();
  }
  recording->jobId = chunk.jobId;

  Progress& progress = progress_[static_cast<std::size_t>(recording->number - 1)];
  SourceProgress& source = chunk.source == "microphone" ? progress.microphone : progress.system;
  SourceTimeline& timeline = recording->timeline(chunk.source);
  checkSequence(line, chunk, source, timeline, violations);
  ChunkPlacement placement = placeOnTimeline(line, chunk, source, timeline);
  placement.recording = recording->number;
  return placement;
}

void StreamChecker::checkSequence(std::int64_t line, const AudioChunkEvent& chunk,
                                  SourceProgress& progress, SourceTimeline& timeline,
                                  std::vector<Violation>& violations) {
  if (chunk.sequence != progress.nextSequence) {
    const std::string what = chunk.sequence < progress.nextSequence ? "repeats" : "skips";
    violations.push_back({line, chunk.source + " sequence " + what + ": " +
                                    std::to_string(chunk.sequence) + " where " +
                                    std::to_string(progress.nextSequence) + " was due"});
    timeline.sequenceContinuous = false;
  }
  // A repeated number does not move the count back: the chunk still due is.
  progress.nextSequence = std::max(progress.nextSequence, chunk.sequence + 1);
}

ChunkPlacement StreamChecker::placeOnTimeline(std::int64_t line, const AudioChunkEvent& chunk,
                                              SourceProgress& progress, SourceTimeline& timeline) {
  const double lengthMs =
      static_cast<double>(chunk.samples.size()) / static_cast<double>(chunk.sampleRate) * 1000.0;
  bool continues = false;
  if (progress.endMs) {
    const double offset = static_cast<double>(chunk.startedAtMs) - *progress.endMs;
    continues = std::fabs(offset) <= kRoundingToleranceMs;
    if (!continues)
      timeline.breaks.push_back({offset > 0 ? Break::Kind::gap : Break::Kind::overlap, line,
                                 *progress.endMs, std::fabs(offset)});
  }
  // A continuing chunk starts exactly where the last one ended; measuring from
  // there keeps rounding errors from adding up over a long recording.
  const double startMs = continues ? *progress.endMs : static_cast<double>(chunk.startedAtMs);
  progress.endMs = startMs + lengthMs;

  timeline.chunks.push_back({line, chunk.sequence, chunk.startedAtMs, lengthMs, chunk.sampleRate});
  timeline.sampleRates.insert(chunk.sampleRate);
  timeline.samples += static_cast<std::int64_t>(chunk.samples.size());
  timeline.audioMs += lengthMs;
  return ChunkPlacement{0, continues, startMs};
}

void StreamChecker::acceptStatus(std::int64_t line, const StatusEvent& status,
                                 std::vector<Violation>& violations) {
  InspectedRecording* recording = inProgress();
  if (recording != nullptr && recording->sessionId && *recording->sessionId != status.sessionId) {
    violations.push_back({line, "status of session \"" + status.sessionId + "\" while \"" +
                                    *recording->sessionId + "\" is recording"});
    return;
  }
  if (recording == nullptr) {
    const InspectedRecording* ended = lastEnded();
    if (ended != nullptr && ended->sessionId == status.sessionId && status.elapsedSeconds != 0) {
      violations.push_back({line, "status of session \"" + status.sessionId + "\" after its " +
                                      endWord(*ended) + " (line " + std::to_string(ended->endLine) +
                                      ")"});
      return;
    }
    recording = &begin();
  }
  recording->sessionId = status.sessionId;
  recording->levels.push_back({status.elapsedSeconds, status.microphoneLevel, status.systemLevel,
                               status.microphoneActive, status.systemActive});
}

void StreamChecker::acceptCompleted(std::int64_t line, const CompletedEvent& completed,
                                    std::vector<Violation>& violations) {
  InspectedRecording* recording = inProgress();
  if (recording != nullptr &&
      (!recording->sessionId || *recording->sessionId == completed.sessionId)) {
    recording->sessionId = completed.sessionId;
    recording->end = InspectedRecording::End::completed;
    recording->endLine = line;
    return;
  }
  if (failedStarts_.erase(completed.sessionId) > 0) {
    notes_.push_back({line, "completed \"" + completed.sessionId + "\" after its failed start"});
    return;
  }
  const InspectedRecording* ended = lastEnded();
  if (recording == nullptr && ended != nullptr && ended->sessionId == completed.sessionId) {
    violations.push_back({line, "completed of session \"" + completed.sessionId + "\" after its " +
                                    endWord(*ended) + " (line " + std::to_string(ended->endLine) +
                                    ")"});
    return;
  }
  if (recording != nullptr) {
    violations.push_back({line, "completed of session \"" + completed.sessionId + "\" while \"" +
                                    *recording->sessionId + "\" is recording"});
    return;
  }
  // A start followed at once by a stop can end before the first heartbeat.
  notes_.push_back({line, "completed \"" + completed.sessionId + "\" with no events before it"});
}

void StreamChecker::acceptFailed(std::int64_t line, const FailedEvent& failed,
                                 std::vector<Violation>& violations) {
  const std::string where = failed.sessionId ? " (session \"" + *failed.sessionId + "\")" : "";
  if (!failed.sessionId || isCommandRejection(failed.message)) {
    notes_.push_back({line, "failed: " + failed.message + where});
    return;
  }
  InspectedRecording* recording = inProgress();
  if (recording != nullptr && recording->sessionId == failed.sessionId) {
    recording->end = InspectedRecording::End::failed;
    recording->failureMessage = failed.message;
    recording->endLine = line;
    return;
  }
  const InspectedRecording* ended = lastEnded();
  if (recording == nullptr && ended != nullptr && ended->sessionId == failed.sessionId) {
    violations.push_back({line, "failed of session \"" + *failed.sessionId + "\" after its " +
                                    endWord(*ended) + " (line " + std::to_string(ended->endLine) +
                                    ")"});
    return;
  }
  failedStarts_.insert(*failed.sessionId);
  notes_.push_back({line, "start failed: " + failed.message + where});
}

}  // namespace mirevo::inspect
