// A trace of what record streams gave a ReadPlacer: the reads and timing
// reports of one or more streams, in the order they came, as plain text, so
// that a recording on a real server replays in a unit test. One event a line;
// `#` starts a comment:
//
//   mirevo-timing-trace 1
//   server pipewire                  (or pulseaudio: whether cycles are lost)
//   rate 48000                       (frames a second; one channel)
//   stream <id> <floor_s> <source>   (a new stream and its placer)
//   deliver <id>                     (its reads are kept from here on)
//   read <id> <arrival_s> <first_frame> <frames> [<onset_frame>...]
//   report <id> <moment_s> <write_index> <latency_s>   (write index -1: none)
//   end <id>                         (everything read is handed over)
//
// Times are on the host clock, in seconds. An onset is the stream frame of
// the first loud sample after at least 50 ms of quiet: the ground truth of a
// trace recorded while bursts play, each heard at one moment by every stream
// that hears it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/pulse/ReadPlacer.hpp"

namespace mirevo::testing {

struct TimingTrace {
  struct Event {
    enum class Kind { stream, deliver, read, report, end } kind;
    int stream = 0;
    double seconds = 0.0;    // arrival, moment, or floor
    std::int64_t first = 0;  // first frame, or write index
    std::int64_t frames = 0;
    double latencySeconds = 0.0;
    std::vector<std::int64_t> onsets;  // stream frames
    std::string source;
  };

  std::string server;
  int rate = 48000;
  std::vector<Event> events;

  bool dropsCycles() const { return server == "pipewire"; }
};

// Reads a trace; throws std::runtime_error naming the line it cannot read.
TimingTrace readTimingTrace(std::istream& in);

// Finds onsets in a stream's samples as they are read, across reads.
class OnsetFinder {
 public:
  // Appends the stream frames of the onsets in `samples` (mono), whose first
  // frame is `firstFrame`, to `onsets`.
  void find(const std::vector<float>& samples, std::int64_t firstFrame, int rate,
            std::vector<std::int64_t>& onsets);

  static constexpr float kLoud = 0.1f;
  static constexpr double kQuietSeconds = 0.050;

 private:
  std::int64_t quietFrames_ = 0;
};

// Writes events in the trace's format.
void writeTraceHeader(std::ostream& out, const std::string& server, int rate);
void writeTraceRead(std::ostream& out, int stream, const platform::pulse::ReadPlacer::Read& read,
                    const std::vector<std::int64_t>& onsets);
void writeTraceReport(std::ostream& out, int stream,
                      const platform::pulse::ReadPlacer::Report& report);

}  // namespace mirevo::testing
