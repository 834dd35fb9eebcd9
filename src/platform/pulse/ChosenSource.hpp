// What one rule records for a stream (the default output for the system's
// audio, the microphone, or the monitor of an output that joined the
// system's audio): the rule that says which server source it records, the
// record stream currently on that source, and where its audio has got to. A
// record stream that takes over from another one (after a switch of the
// default device or a reconnection to the server) starts behind the end of
// its audio, so the time between them shows as a gap, never as an overlap.
//
// Threads: the stream's worker, with the connection's lock held, or the
// libpulse loop thread (which holds it whenever it runs our code); the
// record stream's callbacks run on the loop thread. framesRead() from any thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/PulseQueries.hpp"
#include "platform/pulse/RecordStream.hpp"
#include "platform/pulse/SourceChoice.hpp"

namespace mirevo::platform::pulse {

class ChosenSource {
 public:
  struct Settings {
    int outputType = 0;
    SourceRule rule = SourceRule::named;
    std::string named;  // the source of SourceRule::named
    int sampleRate = 48000;
    int channelCount = 1;
    double startSeconds = 0.0;  // when the recording started, on the host clock
  };
  // Told, on the loop thread, when the record stream ends on its own; what
  // it read has been handed over by then.
  using Ended = std::function<void(int outputType, int code)>;

  ChosenSource(const Settings& settings, const Clock& clock, RecordStream::HandOver handOver,
               Ended ended);
  ChosenSource(const ChosenSource&) = delete;
  ChosenSource& operator=(const ChosenSource&) = delete;

  int outputType() const { return settings_.outputType; }
  SourceRule rule() const { return settings_.rule; }
  RecordStream* stream() const { return stream_.get(); }
  // What the record stream records; empty without one.
  const std::string& source() const { return source_; }
  // Where the audio of the record streams retired so far ended (the recording's
  // start before any).
  double floorSeconds() const { return floorSeconds_; }
  // The next record stream leaves out what lies before `seconds` too: another
  // output's record stream delivered audio of that source up to there.
  void raiseFloor(double seconds) { floorSeconds_ = std::max(floorSeconds_, seconds); }

  // Starts recording `source` on `connection`, after retiring any record stream
  // before it. Throws the platform's Error when libpulse refuses at once.
  void record(PulseConnection& connection, const std::string& source);
  // Records what the rule chooses from `devices`, unless it records that
  // already; retires the record stream when the rule chooses nothing. Answers
  // whether a source was chosen.
  bool recordChosen(PulseConnection& connection, const ServerDevices& devices);
  // Hands over everything the record stream has read; it goes on.
  void handOverRead();
  // Hands over everything the record stream has read; from then on it delivers
  // and tells nothing (its connection is lost, or the recording stops).
  void finish();
  // Finishes the record stream and lets it go.
  void retire();
  // Lets the record stream go at once; nothing more is handed over.
  void release();

  // Frames read from the server for delivery, by all its record streams.
  std::int64_t framesRead() const { return framesRead_.load(std::memory_order_relaxed); }

 private:
  Settings settings_;
  const Clock& clock_;
  RecordStream::HandOver handOver_;
  Ended ended_;
  std::unique_ptr<RecordStream> stream_;
  std::string source_;  // what stream_ records
  // No audio of a new record stream goes before this: the recording's start, then
  // the end of the last record stream's audio.
  double floorSeconds_;
  std::atomic<std::int64_t> framesRead_{0};
};

}  // namespace mirevo::platform::pulse
