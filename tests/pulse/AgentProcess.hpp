// The built agent as a child process: commands go to its stdin, events are
// read back from its stdout line by line, and what it writes to stderr is
// kept to check that there is none. Its stdout is read only inside next(),
// until() and finish(): a test that calls none of them for a while is a
// parent that has stopped reading, and once the pipe is full the agent's
// writes block.
//
// Threads: the test's thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace mirevo::testing {

class AgentProcess {
 public:
  explicit AgentProcess(const std::string& path);
  ~AgentProcess();
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  void send(const nlohmann::json& command);
  // The next event, or none when none arrives within `limit` (or the agent
  // closed its output).
  std::optional<nlohmann::json> next(std::chrono::milliseconds limit);
  // Reads events until one satisfies `wanted`, keeping all it read in
  // events(); returns it, or none after `limit`.
  std::optional<nlohmann::json> until(const std::function<bool(const nlohmann::json&)>& wanted,
                                      std::chrono::milliseconds limit);
  const std::vector<nlohmann::json>& events() const { return events_; }

  // Stops the agent's process for `length` and lets it go on, as when the
  // machine does not schedule it for that long.
  void pause(std::chrono::milliseconds length);

  // The agent's peak resident memory so far (VmHWM), in KiB; none when it
  // cannot be read.
  std::optional<long> peakResidentKib() const;

  // Closes stdin and waits for the exit; the exit status, or none when it
  // did not exit normally within `limit`.
  std::optional<int> finish(std::chrono::milliseconds limit);
  std::string standardError() const;

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string errorPath_;
  std::string pending_;
  std::vector<nlohmann::json> events_;
};

// The 16-bit samples of an audio_chunk's dataBase64.
std::vector<std::int16_t> chunkSamples(const nlohmann::json& chunk);

}  // namespace mirevo::testing
