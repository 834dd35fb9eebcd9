// Builds the `audio_chunk` line in a buffer that is reused from chunk to
// chunk, byte for byte what Output::serialise writes for the same event:
// keys in ascending order, compact, every '/' escaped, ending in a line feed.
// The job and source strings are serialised once, by the emitter's own JSON
// writer, when the builder is made.
//
// Threads: one builder per accumulator, used on its session's queue.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mirevo::audio {

struct ChunkFields {
  std::int64_t sequence = 0;
  std::int64_t startedAtMs = 0;
  std::int64_t durationMs = 0;
  std::int64_t sampleRate = 0;
};

class ChunkLine {
 public:
  ChunkLine(std::string_view job, std::string_view source);

  // The line for one chunk of mono 16-bit samples. The view stays valid until
  // the next build; once the buffer has grown to a chunk's size, building
  // another chunk of at most that size does not allocate.
  std::string_view build(const ChunkFields& fields, std::span<const std::int16_t> samples);

 private:
  // The job and the source as JSON strings, exactly as the emitter writes them.
  std::string jobValue_;
  std::string sourceValue_;
  std::vector<char> buffer_;
};

}  // namespace mirevo::audio
