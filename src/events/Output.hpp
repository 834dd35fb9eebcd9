// The event emitter: the only code that writes to standard output. Every event
// becomes one compact JSON line (keys ascending, UTF-8, every `/` as `\/`),
// serialised outside the lock and written whole under one process-wide lock.
//
// Threads: any, concurrently.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace mirevo::Output {

// Writes `event` as one line. An event that cannot be serialised is dropped.
void emit(const nlohmann::json& event);

// Emits a `failed` event; `sessionId` is present exactly when `session` is.
void failure(std::string_view message, const std::optional<std::string>& session);

// The event's line as emit would write it, line feed included.
std::string serialise(const nlohmann::json& event);

// Writes one finished line (ending in a line feed) under the lock. For lines
// built elsewhere byte-identical to what emit writes: the audio chunk path.
void writeLine(std::string_view line);

// Tests: sends lines to `fd` instead of standard output; returns the previous.
int redirectForTesting(int fd);

}  // namespace mirevo::Output
