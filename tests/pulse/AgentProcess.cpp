#include "AgentProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace mirevo::testing {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

AgentProcess::AgentProcess(const std::string& path) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "mirevo-agent-stderr-XXXXXX").string();
  const int errorFile = ::mkstemp(pattern.data());
  errorPath_ = pattern;
  int toAgent[2];
  int fromAgent[2];
  if (errorFile < 0 || ::pipe2(toAgent, O_CLOEXEC) != 0 || ::pipe2(fromAgent, O_CLOEXEC) != 0) {
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(toAgent[0], STDIN_FILENO);
    ::dup2(fromAgent[1], STDOUT_FILENO);
    ::dup2(errorFile, STDERR_FILENO);
    ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(errorFile);
  ::close(toAgent[0]);
  ::close(fromAgent[1]);
  input_ = toAgent[1];
  output_ = fromAgent[0];
  // A write after the agent is gone must fail, not kill the test.
  ::signal(SIGPIPE, SIG_IGN);
}

AgentProcess::~AgentProcess() {
  if (input_ >= 0) ::close(input_);
  if (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  if (output_ >= 0) ::close(output_);
  if (!errorPath_.empty()) ::unlink(errorPath_.c_str());
}

void AgentProcess::send(const nlohmann::json& command) {
  const std::string line = command.dump() + "\n";
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(input_, line.data() + written, line.size() - written);
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

std::optional<nlohmann::json> AgentProcess::next(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (true) {
    const auto end = pending_.find('\n');
    if (end != std::string::npos) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      events_.push_back(nlohmann::json::parse(line));
      return events_.back();
    }
    pollfd ready{output_, POLLIN, 0};
    if (::poll(&ready, 1, remainingMs(deadline)) <= 0) return std::nullopt;
    std::array<char, 65536> chunk{};
    const ssize_t n = ::read(output_, chunk.data(), chunk.size());
    if (n <= 0) return std::nullopt;
    pending_.append(chunk.data(), static_cast<std::size_t>(n));
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

std::optional<long> AgentProcess::peakResidentKib() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return std::nullopt;
}

std::optional<int> AgentProcess::finish(std::chrono::milliseconds limit) {
  if (input_ >= 0) {
    ::close(input_);
    input_ = -1;
  }
  // Read what is left so that the agent never blocks on a full pipe.
  while (next(limit)) {
  }
  const auto deadline = Clock::now() + limit;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (remainingMs(deadline) == 0) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

std::string AgentProcess::standardError() const {
  std::ifstream file(errorPath_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::int16_t> chunkSamples(const nlohmann::json& chunk) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string text = chunk.at("dataBase64");
  std::vector<std::uint8_t> bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const auto at = alphabet.find(c);
    if (at == std::string::npos) continue;  // padding
    bits = (bits << 6) | static_cast<std::uint32_t>(at);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<std::uint8_t>((bits >> count) & 0xff));
    }
  }
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

}  // namespace mirevo::testing
