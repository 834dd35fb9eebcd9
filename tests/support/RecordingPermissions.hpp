// On a Mac: whether the app that runs the tests (Terminal, the CI runner) has
// both permissions a recording needs, asked without a prompt. macOS credits
// the agent's requests to that app, and a prompt that nobody answers would
// hold a test until its time limit.
//
// Plain C++ (the process tests include it); built on macOS only.
#pragma once

#include <optional>
#include <string>

namespace mirevo::testing {

// Why the agent cannot record here without asking a person, in one line;
// nothing when microphone and screen recording are both granted.
std::optional<std::string> missingRecordingPermission();

// Both permission states, as the agent's requests would find them:
// "microphone <state>, screen recording <granted|not granted>".
std::string recordingPermissionStates();

}  // namespace mirevo::testing
