// Reads one line of the agent's output into an Event and finds what breaks the
// protocol within that line alone: framing, JSON, missing keys, keys the type
// does not define, nulls at any depth, kinds of values, fixed values, undecodable or odd-sized
// audio and a `durationMs` that does not match the audio. Checks across lines are StreamChecker's.
//
// Threads: any; no shared state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Event.hpp"

namespace mirevo::inspect {

struct ParsedLine {
  // The event, when the line could be read as one; it may still have problems
  // (an audio chunk whose `durationMs` is wrong keeps its audio).
  std::optional<Event> event;
  std::vector<std::string> problems;
};

// `line` is the text without its line feed.
ParsedLine parseEventLine(std::string_view line);

// The chunk's length in whole milliseconds as the agent must write it:
// samples / rate × 1000, rounded half away from zero, at least 1.
std::int64_t expectedDurationMs(std::size_t samples, std::int64_t sampleRate);

// 16-bit little-endian PCM as samples (an odd last byte is left out).
std::vector<std::int16_t> littleEndianSamples(const std::vector<std::uint8_t>& bytes);

}  // namespace mirevo::inspect
