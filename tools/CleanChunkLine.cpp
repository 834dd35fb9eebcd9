#include "CleanChunkLine.hpp"

#include <cstdint>
#include <vector>

#include "Base64.hpp"
#include "EventParser.hpp"

namespace mirevo::inspect {
namespace {

// Reads the line from left to right; each step either takes what the agent
// writes there or fails.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool literal(std::string_view expected) {
    if (!text_.starts_with(expected)) return false;
    text_.remove_prefix(expected.size());
    return true;
  }

  // A JSON integer without sign, exponent or leading zero, small enough that
  // it cannot overflow.
  std::optional<std::int64_t> count() {
    std::size_t digits = 0;
    while (digits < text_.size() && text_[digits] >= '0' && text_[digits] <= '9') ++digits;
    if (digits == 0 || digits > 15 || (digits > 1 && text_[0] == '0')) return std::nullopt;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) value = value * 10 + (text_[i] - '0');
    text_.remove_prefix(digits);
    return value;
  }

  // The body of a string up to its closing quote (which is taken too).
  // `plain`: printable ASCII only, with no escape and no solidus, so that the
  // text is the value.
  std::optional<std::string_view> string(bool plain) {
    const std::size_t end = text_.find('"');
    if (end == std::string_view::npos) return std::nullopt;
    for (std::size_t i = 0; plain && i < end; ++i) {
      const unsigned char c = static_cast<unsigned char>(text_[i]);
      if (c < 0x20 || c > 0x7E || c == '\\' || c == '/') return std::nullopt;
    }
    const std::string_view body = text_.substr(0, end);
    text_.remove_prefix(end + 1);
    return body;
  }

  bool atEnd() const { return text_.empty(); }

 private:
  std::string_view text_;
};

}  // namespace

std::optional<AudioChunkEvent> readCleanChunkLine(std::string_view line) {
  Cursor cursor(line);
  if (!cursor.literal(R"({"channels":1,"dataBase64":")")) return std::nullopt;
  const auto data = cursor.string(/*plain=*/false);
  if (!data || !cursor.literal(R"(,"durationMs":)")) return std::nullopt;
  const auto durationMs = cursor.count();
  if (!durationMs || !cursor.literal(R"(,"encoding":"pcm_s16le","jobId":")")) return std::nullopt;
  const auto jobId = cursor.string(/*plain=*/true);
  if (!jobId || !cursor.literal(R"(,"sampleRate":)")) return std::nullopt;
  const auto sampleRate = cursor.count();
  if (!sampleRate || *sampleRate < 8000 || *sampleRate > 192000) return std::nullopt;
  if (!cursor.literal(R"(,"sequence":)")) return std::nullopt;
  const auto sequence = cursor.count();
  if (!sequence || !cursor.literal(R"(,"source":")")) return std::nullopt;
  const auto source = cursor.string(/*plain=*/true);
  if (!source || (*source != "microphone" && *source != "system")) return std::nullopt;
  if (!cursor.literal(R"(,"startedAtMs":)")) return std::nullopt;
  const auto startedAtMs = cursor.count();
  if (!startedAtMs || !cursor.literal(R"(,"type":"audio_chunk"})") || !cursor.atEnd())
    return std::nullopt;

  // One buffer per thread: its room is reused from line to line.
  thread_local std::vector<std::uint8_t> bytes;
  if (!decodeJsonEscapedBase64(*data, bytes) || bytes.empty() || bytes.size() % 2 != 0)
    return std::nullopt;
  AudioChunkEvent chunk{
      std::string(*jobId), std::string(*source),      *sequence, *startedAtMs, *durationMs,
      *sampleRate,         littleEndianSamples(bytes)};
  if (expectedDurationMs(chunk.samples.size(), chunk.sampleRate) != *durationMs)
    return std::nullopt;
  return chunk;
}

}  // namespace mirevo::inspect
