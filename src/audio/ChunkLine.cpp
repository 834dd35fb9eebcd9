#include "audio/ChunkLine.hpp"

#include <bit>
#include <charconv>
#include <cstring>

#include <nlohmann/json.hpp>

#include "audio/EscapedBase64.hpp"
#include "events/Output.hpp"

namespace mirevo::audio {
namespace {

static_assert(std::endian::native == std::endian::little,
              "samples are sent low byte first, as they lie in memory here");

// A string as the emitter writes it: JSON-quoted with its escapes and its
// mending of invalid UTF-8, and every '/' escaped. The emitter's serialise
// writes a value's line; strip its line feed.
std::string serialisedString(std::string_view text) {
  std::string line = Output::serialise(nlohmann::json(std::string(text)));
  line.pop_back();
  return line;
}

char* put(std::string_view text, char* out) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* put(std::int64_t value, char* out) {
  return std::to_chars(out, out + 20, value).ptr;
}

constexpr std::string_view kOpen = R"({"channels":1,"dataBase64":")";
constexpr std::string_view kDuration = R"(","durationMs":)";
constexpr std::string_view kJob = R"(,"encoding":"pcm_s16le","jobId":)";
constexpr std::string_view kRate = R"(,"sampleRate":)";
constexpr std::string_view kSequence = R"(,"sequence":)";
constexpr std::string_view kSource = R"(,"source":)";
constexpr std::string_view kStarted = R"(,"startedAtMs":)";
constexpr std::string_view kClose = ",\"type\":\"audio_chunk\"}\n";
constexpr std::size_t kIntegerRoom = 20;  // digits and sign of any int64

}  // namespace

ChunkLine::ChunkLine(std::string_view job, std::string_view source)
    : jobValue_(serialisedString(job)), sourceValue_(serialisedString(source)) {}

std::string_view ChunkLine::build(const ChunkFields& fields,
                                  std::span<const std::int16_t> samples) {
  const std::size_t bytes = samples.size_bytes();
  const std::size_t needed = kOpen.size() + escapedBase64Capacity(bytes) + kDuration.size() +
                             kJob.size() + jobValue_.size() + kRate.size() + kSequence.size() +
                             kSource.size() + sourceValue_.size() + kStarted.size() +
                             kClose.size() + 4 * kIntegerRoom;
  if (buffer_.size() < needed) buffer_.resize(needed);

  char* out = put(kOpen, buffer_.data());
  out = encodeEscapedBase64(reinterpret_cast<const std::uint8_t*>(samples.data()), bytes, out);
  out = put(fields.durationMs, put(kDuration, out));
  out = put(jobValue_, put(kJob, out));
  out = put(fields.sampleRate, put(kRate, out));
  out = put(fields.sequence, put(kSequence, out));
  out = put(sourceValue_, put(kSource, out));
  out = put(fields.startedAtMs, put(kStarted, out));
  out = put(kClose, out);
  return {buffer_.data(), static_cast<std::size_t>(out - buffer_.data())};
}

}  // namespace mirevo::audio
