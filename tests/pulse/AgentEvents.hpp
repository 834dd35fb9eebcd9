// Questions the agent tests ask of the events the agent wrote.
#pragma once

#include <cstdlib>
#include <vector>

#include <nlohmann/json.hpp>

namespace mirevo::testing {

inline bool isType(const nlohmann::json& event, const char* type) {
  return event.value("type", "") == type;
}

inline bool isChunkOf(const nlohmann::json& event, const char* source) {
  return isType(event, "audio_chunk") && event.value("source", "") == source;
}

inline std::vector<nlohmann::json> chunksOf(const std::vector<nlohmann::json>& events,
                                            const char* source) {
  std::vector<nlohmann::json> chunks;
  for (const auto& event : events) {
    if (isChunkOf(event, source)) chunks.push_back(event);
  }
  return chunks;
}

// The differences of more than 100 ms between where a chunk ends and where
// the next one starts.
inline std::vector<int> breaksOf(const std::vector<nlohmann::json>& chunks) {
  std::vector<int> breaks;
  for (std::size_t i = 1; i < chunks.size(); ++i) {
    const int end =
        chunks[i - 1].at("startedAtMs").get<int>() + chunks[i - 1].at("durationMs").get<int>();
    const int jump = chunks[i].at("startedAtMs").get<int>() - end;
    if (std::abs(jump) > 100) breaks.push_back(jump);
  }
  return breaks;
}

}  // namespace mirevo::testing
