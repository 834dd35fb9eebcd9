#include "AgentProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "PosixDescriptors.hpp"
#include "ProcessMemory.hpp"

extern char** environ;

namespace mirevo::testing {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Runs `path` with its standard streams on the given descriptors (standard
// error closed when `err` is -1) and SIGPIPE at its default action; the
// process id, or -1.
pid_t spawn(const std::string& path, std::vector<std::string> argv, int in, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  if (err >= 0) {
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addclose(&actions, STDERR_FILENO);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  if (argv.empty()) argv.push_back(path);
  std::vector<char*> pointers;
  for (auto& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, path.c_str(), &actions, &attributes, pointers.data(), environ) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

}  // namespace

AgentProcess::AgentProcess(const std::string& path, AgentLaunch launch) {
  // A write after the agent is gone must fail, not kill the test.
  ::signal(SIGPIPE, SIG_IGN);
  std::string pattern =
      (std::filesystem::temp_directory_path() / "mirevo-agent-stderr-XXXXXX").string();
  const int errorFile = ::mkstemp(pattern.data());
  if (errorFile < 0) return;
  errorPath_ = pattern;
  int toAgent[2];
  int fromAgent[2];
  if (!makePipe(toAgent)) {
    ::close(errorFile);
    return;
  }
  if (!makePipe(fromAgent)) {
    ::close(errorFile);
    ::close(toAgent[0]);
    ::close(toAgent[1]);
    return;
  }
  pid_ = spawn(path, std::move(launch.argv), toAgent[0], fromAgent[1],
               launch.closeStandardError ? -1 : errorFile);
  ::close(errorFile);
  ::close(fromAgent[1]);
  input_ = toAgent[1];
  outputFd_ = fromAgent[0];
  inputReadEnd_ = toAgent[0];
  if (!launch.keepInputReadable) closeFd(inputReadEnd_);
}

AgentProcess::~AgentProcess() {
  closeFd(input_);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  closeFd(outputFd_);
  closeFd(inputReadEnd_);
  if (!errorPath_.empty()) ::unlink(errorPath_.c_str());
}

void AgentProcess::send(const nlohmann::json& command) {
  sendBytes(command.dump() + "\n");
}

bool AgentProcess::sendBytes(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(input_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void AgentProcess::closeInput() {
  closeFd(input_);
}

void AgentProcess::closeOutput() {
  closeFd(outputFd_);
}

// Appends what the agent wrote next; false at the end of its output or when
// nothing came before `deadline`.
bool AgentProcess::readMore(Clock::time_point deadline) {
  if (outputFd_ < 0) return false;
  pollfd ready{outputFd_, POLLIN, 0};
  if (::poll(&ready, 1, remainingMs(deadline)) <= 0) return false;
  std::array<char, 65536> chunk{};
  const ssize_t got = ::read(outputFd_, chunk.data(), chunk.size());
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) {
    closeFd(outputFd_);
    return false;
  }
  text_.append(chunk.data(), static_cast<std::size_t>(got));
  return true;
}

std::optional<nlohmann::json> AgentProcess::next(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (true) {
    const auto end = text_.find('\n', parsedUpTo_);
    if (end != std::string::npos) {
      const std::string line = text_.substr(parsedUpTo_, end - parsedUpTo_);
      parsedUpTo_ = end + 1;
      events_.push_back(nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false));
      return events_.back();
    }
    if (!readMore(deadline)) return std::nullopt;
  }
}

std::optional<nlohmann::json> AgentProcess::until(
    const std::function<bool(const nlohmann::json&)>& wanted, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    const auto event = next(std::chrono::milliseconds(remainingMs(deadline)));
    if (!event) return std::nullopt;
    if (wanted(*event)) return event;
  }
  return std::nullopt;
}

void AgentProcess::pause(std::chrono::milliseconds length) {
  ::kill(pid_, SIGSTOP);
  std::this_thread::sleep_for(length);
  ::kill(pid_, SIGCONT);
}

std::optional<int> AgentProcess::finish(std::chrono::milliseconds limit) {
  closeInput();
  return waitForExit(limit);
}

std::optional<int> AgentProcess::waitForExit(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  // Read what is left so that the agent never blocks on a full pipe, and
  // parse it into events() as next() would.
  while (next(std::chrono::milliseconds(remainingMs(deadline)))) {
  }
  while (remainingMs(deadline) > 0 && readMore(deadline)) {
  }
  int status = 0;
  if (!reap(deadline, status)) return std::nullopt;
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

// Collects the exit status and the peak memory; kills the agent when it has
// not exited by `deadline`. False when it had to be killed.
bool AgentProcess::reap(Clock::time_point deadline, int& status) {
  if (pid_ <= 0) return false;
  bool exited = false;
  while (!(exited = ::waitpid(pid_, &status, WNOHANG) == pid_) && remainingMs(deadline) > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!exited) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
  // POSIX reports the largest peak of the children waited for so far: this
  // agent's own when it is the test's only one (ctest runs every test in a
  // process of its own), and never less than it.
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  peakResidentKiB_ = mirevo::testing::peakResidentKiB(usage);
  pid_ = -1;
  return exited;
}

std::string AgentProcess::standardError() const {
  std::ifstream file(errorPath_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string AgentProcess::unreadInput() {
  std::string unread;
  ::fcntl(inputReadEnd_, F_SETFL, O_NONBLOCK);
  char chunk[4096];
  for (ssize_t got; (got = ::read(inputReadEnd_, chunk, sizeof chunk)) > 0;) {
    unread.append(chunk, static_cast<std::size_t>(got));
  }
  return unread;
}

}  // namespace mirevo::testing
