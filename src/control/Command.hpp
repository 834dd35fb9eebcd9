// One command line decoded into a `Command`. Decoding is strict: the line must
// be one JSON object whose `type` is a string; `sessionId`, `jobId` and
// `microphoneDeviceId` are strings, or absent or null for no value. Keys are
// matched exactly; any other key is ignored whatever it holds.
//
// Threads: the command loop, on the main thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirevo::control {

struct Command {
  std::string type;
  std::optional<std::string> sessionId;
  std::optional<std::string> jobId;
  std::optional<std::string> microphoneDeviceId;
};

// The domain of decoding errors.
inline constexpr const char* kCommandErrorDomain = "MirevoCommand";

// Decodes one line (its UTF-8 bytes, without terminator). Throws
// platform::Error, whose description says what is wrong, and then yields no
// command at all.
Command decodeCommand(std::string_view line);

}  // namespace mirevo::control
