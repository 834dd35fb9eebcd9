// A recording session for the command loop's tests: it records every call the
// loop makes, can be told to fail start or stop, and emits `completed` from a
// successful stop so the order of the loop's and the session's events shows.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "events/Output.hpp"
#include "platform/Error.hpp"

namespace mirevo::testing {

struct FakeEnvironment {
  // "create s", "start s job device", "stop s", "release s", "devices".
  std::vector<std::string> calls;
  // The next this many starts fail with `startFailure` as description.
  int failingStarts = 0;
  std::string startFailure = "The selected microphone is no longer available.";
  // A failing start throws a plain std::exception instead of a platform::Error.
  bool startFailsWithStdException = false;
  // The next this many stops fail.
  int failingStops = 0;
  nlohmann::json devices = nlohmann::json::array();
};

class FakeCapture {
 public:
  using Environment = FakeEnvironment;

  FakeCapture(std::string session, FakeEnvironment& env) : session_(std::move(session)), env_(env) {
    env_.calls.push_back("create " + session_);
  }
  ~FakeCapture() { env_.calls.push_back("release " + session_); }

  void start(const std::string& job, const std::optional<std::string>& device) {
    env_.calls.push_back("start " + session_ + " " + job + " " + device.value_or("(none)"));
    if (env_.failingStarts == 0) return;
    --env_.failingStarts;
    if (env_.startFailsWithStdException) throw std::runtime_error(env_.startFailure);
    throw platform::Error("FakeCapture", 1, env_.startFailure);
  }

  void stop() {
    env_.calls.push_back("stop " + session_);
    if (env_.failingStops > 0) {
      --env_.failingStops;
      throw platform::Error("FakeCapture", 2, "The stream refused to stop.");
    }
    Output::emit({{"type", "completed"}, {"sessionId", session_}});
  }

  std::string session() const { return session_; }

  static nlohmann::json devices(FakeEnvironment& env) {
    env.calls.push_back("devices");
    return env.devices;
  }

 private:
  std::string session_;
  FakeEnvironment& env_;
};

}  // namespace mirevo::testing
