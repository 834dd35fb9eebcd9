// Reads the audio of an `audio_chunk` event back into samples, with the
// inspector's strict base64 decoder.
//
// Threads: any; no shared state.
#pragma once

#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

namespace mirevo::testing {

// The 16-bit little-endian samples of the event's `dataBase64`; throws
// std::invalid_argument when that is not base64 or holds an odd byte count.
std::vector<std::int16_t> chunkSamples(const nlohmann::json& chunk);

}  // namespace mirevo::testing
