// Questions the agent tests ask of the events the agent wrote.
#pragma once

#include <cstdlib>
#include <vector>

#include <nlohmann/json.hpp>

#include "ChunkSamples.hpp"

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

// The differences of more than `tolerance` ms (100 unless told) between
// where a chunk ends and where the next one starts.
inline std::vector<int> breaksOf(const std::vector<nlohmann::json>& chunks, int tolerance = 100) {
  std::vector<int> breaks;
  for (std::size_t i = 1; i < chunks.size(); ++i) {
    const int end =
        chunks[i - 1].at("startedAtMs").get<int>() + chunks[i - 1].at("durationMs").get<int>();
    const int jump = chunks[i].at("startedAtMs").get<int>() - end;
    if (std::abs(jump) > tolerance) breaks.push_back(jump);
  }
  return breaks;
}

// Where chunks overlap: the next one starting before the one before it ends
// (by more than the rounding of their times to milliseconds).
inline std::vector<int> overlapsOf(const std::vector<nlohmann::json>& chunks) {
  std::vector<int> overlaps;
  for (const int jump : breaksOf(chunks, 1)) {
    if (jump < 0) overlaps.push_back(jump);
  }
  return overlaps;
}

// Whether each chunk's sequence is its place among its source's chunks.
inline bool contiguous(const std::vector<nlohmann::json>& chunks) {
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (chunks[i].at("sequence") != i) return false;
  }
  return true;
}

// Where each burst begins, in milliseconds on the session's clock: the
// chunk's start plus the sample's place in it, for the first loud sample
// (a tenth of full scale) after at least 50 ms of quiet.
inline std::vector<double> burstOnsetsMs(const std::vector<nlohmann::json>& chunks) {
  constexpr int kLoud = 3277;
  std::vector<double> onsets;
  double quietMs = 0.0;
  for (const auto& chunk : chunks) {
    const double rate = chunk.at("sampleRate").get<double>();
    const double startMs = chunk.at("startedAtMs").get<double>();
    const auto samples = chunkSamples(chunk);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (std::abs(samples[i]) < kLoud) {
        quietMs += 1000.0 / rate;
        continue;
      }
      if (quietMs >= 50.0) onsets.push_back(startMs + static_cast<double>(i) * 1000.0 / rate);
      quietMs = 0.0;
    }
  }
  return onsets;
}

}  // namespace mirevo::testing
