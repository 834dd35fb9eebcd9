// What the command loop requires of a recording session type, and nothing
// more: creating one for a session identifier (which starts nothing and emits
// nothing), starting and stopping it (both block until done and throw
// platform::Error on failure; stop may be called after a failed start and more
// than once), reading its identifier, and listing the input devices.
//
// Threads: the command loop calls all of these on the main thread.
#pragma once

#include <concepts>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace mirevo::control {

template <class S>
concept CaptureSession = requires(S& s, std::string id, typename S::Environment& env,
                                  std::optional<std::string> device) {
  std::make_shared<S>(id, env);
  s.start(id, device);
  s.stop();
  { s.session() } -> std::convertible_to<std::string>;
  { S::devices(env) } -> std::convertible_to<nlohmann::json>;
};

}  // namespace mirevo::control
