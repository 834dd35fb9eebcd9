#include "PrivatePulse.hpp"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace mirevo::testing {
namespace {

std::string serverScript() {
  return std::string(MIREVO_SOURCE_DIR) +
         (onPipeWire() ? "/scripts/private-pipewire.sh" : "/scripts/private-pulse.sh");
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

bool onPipeWire() {
  const char* server = ::getenv("MIREVO_TEST_AUDIO_SERVER");
  return server != nullptr && std::string(server) == "pipewire";
}

bool pulseaudioInstalled() {
  const std::string server = onPipeWire() ? "command -v pipewire && command -v wireplumber && "
                                            "command -v pipewire-pulse"
                                          : "command -v pulseaudio";
  return runCommand(server + " && command -v pactl && command -v pacat && command -v sox")
      .has_value();
}

double recordedToneRms(double amplitude) {
  const double rms = amplitude / std::sqrt(2.0);
  return onPipeWire() ? rms * std::sqrt(2.0) : rms;
}

std::optional<std::string> runCommand(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  std::array<char, 4096> chunk{};
  std::size_t read = 0;
  while ((read = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    output.append(chunk.data(), read);
  const int status = ::pclose(pipe);
  if (status != 0) return std::nullopt;
  return output;
}

PrivatePulse::PrivatePulse() {
  if (const char* previous = ::getenv("PULSE_SERVER")) previousServer_ = previous;
  std::string pattern = (std::filesystem::temp_directory_path() / "mirevo-pulse-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return;
  folder_ = pattern;
  start();
}

void PrivatePulse::start() {
  // In a subshell: runCommand sends the command's own stderr nowhere.
  const std::string errors = folder_ + "/start.err";
  std::string command = "(";
  command += serverScript();
  command += " start " + folder_ + " 2>" + errors + ")";
  const auto line = runCommand(command);
  if (!line || line->rfind("PULSE_SERVER=", 0) != 0) {
    startFailure_ = runCommand("cat " + errors).value_or("");
    return;
  }
  startFailure_.clear();
  server_ = trimmed(line->substr(std::string("PULSE_SERVER=").size()));
  ::setenv("PULSE_SERVER", server_.c_str(), 1);
  running_ = true;
}

bool PrivatePulse::restart() {
  kill();
  start();
  return running_;
}

PrivatePulse::~PrivatePulse() {
  kill();
  if (previousServer_) {
    ::setenv("PULSE_SERVER", previousServer_->c_str(), 1);
  } else {
    ::unsetenv("PULSE_SERVER");
  }
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

std::optional<std::string> PrivatePulse::pactl(const std::string& arguments) const {
  return runCommand("PULSE_SERVER='" + server_ + "' pactl " + arguments);
}

void PrivatePulse::kill() {
  if (!folder_.empty()) runCommand(serverScript() + " stop " + folder_);
  running_ = false;
}

TonePlayer::TonePlayer(const std::string& sink, double hertz, double amplitude) {
  play(sink, "synth 600 sine " + std::to_string(hertz) + " vol " + std::to_string(amplitude));
}

TonePlayer::TonePlayer(const std::string& sink, const Bursts& bursts) {
  const auto repeats = static_cast<long>(std::ceil(600.0 / bursts.everySeconds));
  play(sink, "synth " + std::to_string(bursts.burstSeconds) + " sine " +
                 std::to_string(bursts.hertz) + " vol " + std::to_string(bursts.amplitude) +
                 " pad 0 " + std::to_string(bursts.everySeconds - bursts.burstSeconds) +
                 " repeat " + std::to_string(repeats - 1));
}

void TonePlayer::play(const std::string& sink, const std::string& synthesis) {
  const auto sinks = runCommand("pactl list short sinks | cut -f 2");
  if (!sinks || ("\n" + *sinks).find("\n" + sink + "\n") == std::string::npos)
    throw std::runtime_error("no sink " + sink + " to play a tone into");
  const std::string command = "sox -n -t raw -r 48000 -c 1 -e float -b 32 - " + synthesis +
                              " 2>/dev/null | pacat --device=" + sink +
                              " --format=float32le --rate=48000 --channels=1 --latency-msec=50";
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (child > 0) {
    ::setpgid(child, child);
    group_ = child;
  }
}

TonePlayer::~TonePlayer() {
  if (group_ <= 0) return;
  ::kill(-group_, SIGTERM);
  int status = 0;
  ::waitpid(group_, &status, 0);
}

}  // namespace mirevo::testing
