// A built agent as a child process, the way the parent application runs it:
// commands go to its standard input, its standard output is read back line by
// line (and kept whole, byte for byte), and what it writes to standard error
// is kept in a file to check that there is none. Its output is read only
// inside next(), until() and waitForExit(): a test that calls none of them for
// a while is a parent that has stopped reading, and once the pipe is full the
// agent's writes block. The child starts with the default action for SIGPIPE,
// whatever this process does, so the agent must set up its own handling.
//
// Threads: the test's thread; sendBytes() and closeInput() may run on a second
// thread while this one reads (they touch only the input end).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "ChunkSamples.hpp"

namespace mirevo::testing {

// How the agent is started.
struct AgentLaunch {
  // The arguments, argv[0] included; none means just the agent's path.
  std::vector<std::string> argv;
  // Keeps the read end of the agent's input open here, for unreadInput().
  bool keepInputReadable = false;
  // Starts the agent with descriptor 2 closed (standardError() is then empty).
  bool closeStandardError = false;
};

class AgentProcess {
 public:
  explicit AgentProcess(const std::string& path, AgentLaunch launch = {});
  ~AgentProcess();
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Writes one command as a JSON line.
  void send(const nlohmann::json& command);
  // Writes raw bytes; false when the agent no longer reads its input.
  bool sendBytes(std::string_view bytes);
  void closeInput();
  void closeOutput();

  // The next line of output parsed as JSON (a discarded value when it is not
  // JSON), or none when none arrives within `limit` or the output ended.
  std::optional<nlohmann::json> next(std::chrono::milliseconds limit);
  // Reads events until one satisfies `wanted`, keeping all it read in
  // events(); returns it, or none after `limit`.
  std::optional<nlohmann::json> until(const std::function<bool(const nlohmann::json&)>& wanted,
                                      std::chrono::milliseconds limit);
  const std::vector<nlohmann::json>& events() const { return events_; }

  // Stops the agent's process for `length` and lets it go on, as when the
  // machine does not schedule it for that long.
  void pause(std::chrono::milliseconds length);

  // Closes stdin and waits for the exit (see waitForExit).
  std::optional<int> finish(std::chrono::milliseconds limit);
  // Reads the output to its end and waits for the exit, killing the agent
  // when `limit` passes first; the exit status, or none when it did not exit
  // on its own with a status within `limit`.
  std::optional<int> waitForExit(std::chrono::milliseconds limit);

  // Everything read from standard output so far, byte for byte.
  const std::string& output() const { return text_; }
  std::string standardError() const;
  // What is still unread in the agent's standard input (AgentLaunch::keepInputReadable).
  std::string unreadInput();
  // The agent's peak resident memory, known once it has exited (at most the
  // largest of the agents this process ran before: see reap).
  long peakResidentKiB() const { return peakResidentKiB_; }

 private:
  bool readMore(std::chrono::steady_clock::time_point deadline);
  bool reap(std::chrono::steady_clock::time_point deadline, int& status);

  pid_t pid_ = -1;
  int input_ = -1;
  int outputFd_ = -1;
  int inputReadEnd_ = -1;
  std::string errorPath_;
  std::string text_;
  std::size_t parsedUpTo_ = 0;
  std::vector<nlohmann::json> events_;
  long peakResidentKiB_ = 0;
};

}  // namespace mirevo::testing
