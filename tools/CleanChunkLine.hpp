// The fast path for `audio_chunk` lines, nearly every line of a stream: a line
// written exactly as the agent writes a sound chunk (its keys in their order,
// compact, plain ASCII strings, every value as allowed) is read straight from
// its text, with no JSON tree and the base64 decoded in place. Anything else,
// however slightly off, is left to the full parser, which names the problem.
//
// Threads: any; no shared state.
#pragma once

#include <optional>
#include <string_view>

#include "Event.hpp"

namespace mirevo::inspect {

// The chunk, when `line` (without its line feed) is a chunk line that breaks
// nothing; otherwise nothing.
std::optional<AudioChunkEvent> readCleanChunkLine(std::string_view line);

}  // namespace mirevo::inspect
