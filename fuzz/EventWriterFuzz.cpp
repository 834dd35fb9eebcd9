// Fuzzes the event writer. Arbitrary events (strings of any bytes, integers,
// finite numbers, booleans, arrays of objects, nested) become one line each:
// it ends in its only line feed, holds no raw '/', has its keys in ascending
// order at every level, and parses back to the same value (strings that are
// not UTF-8 are mended, so for them only the form is checked). The chunk
// line, which the audio path builds without the emitter, must be byte for
// byte the line the emitter writes for the same chunk.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "audio/ChunkLine.hpp"
#include "events/Output.hpp"

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "event writer fuzz: %s\n", what);
    std::abort();
  }
}

// Valid UTF-8 (code points of every length, '/' and '\\' and quotes likely),
// or, where `raw` allows, sometimes raw bytes. Keys are always valid: the
// protocol's keys are fixed ASCII names, while values (a device's name) may
// come from elsewhere.
std::string text(FuzzedDataProvider& in, bool raw = true) {
  if (raw && in.ConsumeIntegralInRange(0, 7) == 0) return in.ConsumeRandomLengthString(24);
  std::string out;
  const int length = in.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < length; ++i) {
    std::uint32_t cp;
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0:
        cp = in.PickValueInArray<std::uint32_t>({'/', '\\', '"', '\n', '\t', 'a', 0x7F, 0x00});
        break;
      case 1:
        cp = in.ConsumeIntegralInRange<std::uint32_t>(0, 0x7F);
        break;
      case 2:
        cp = in.ConsumeIntegralInRange<std::uint32_t>(0x80, 0x7FF);
        break;
      case 3:
        cp = in.ConsumeIntegralInRange<std::uint32_t>(0x800, 0xFFFF);
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0x2192;  // no lone surrogates
        break;
      default:
        cp = in.ConsumeIntegralInRange<std::uint32_t>(0x10000, 0x10FFFF);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

json object(FuzzedDataProvider& in, int depth);

json value(FuzzedDataProvider& in, int depth) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return text(in);
    case 1:
      return in.ConsumeIntegral<std::int64_t>();
    case 2: {
      const double number = in.ConsumeFloatingPoint<double>();
      return std::isfinite(number) ? json(number) : json(0.5);
    }
    case 3:
      return in.ConsumeBool();
    default: {
      json array = json::array();
      const int count = depth > 2 ? 0 : in.ConsumeIntegralInRange(0, 3);
      for (int i = 0; i < count; ++i) array.push_back(object(in, depth + 1));
      return array;
    }
  }
}

json object(FuzzedDataProvider& in, int depth) {
  json result = json::object();
  const int count = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) result[text(in, false)] = value(in, depth);
  return result;
}

bool validUtf8(const json& event) {
  try {
    (void)event.dump();
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

// No '/' outside an escape: inside strings every solidus follows a backslash
// that starts an escape.
void checkSolidus(const std::string& line) {
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inString && c == '\\') {
      ++i;  // the escaped character, '/' included
    } else if (c == '"') {
      inString = !inString;
    } else {
      check(c != '/', "raw '/' in a line");
    }
  }
}

void checkKeyOrder(const ordered_json& value) {
  if (value.is_object()) {
    const std::string* previous = nullptr;
    for (auto it = value.begin(); it != value.end(); ++it) {
      check(previous == nullptr || *previous < it.key(), "keys not ascending");
      previous = &it.key();
      checkKeyOrder(it.value());
    }
  } else if (value.is_array()) {
    for (const auto& element : value) checkKeyOrder(element);
  }
}

void checkEvent(const json& event) {
  const std::string line = mirevo::Output::serialise(event);
  check(!line.empty() && line.back() == '\n', "line not ended by a line feed");
  check(line.find('\n') == line.size() - 1, "line feed inside a line");
  check(line.find('\r') == std::string::npos, "carriage return in a line");
  checkSolidus(line);
  const auto ordered = ordered_json::parse(line, nullptr, false);
  check(!ordered.is_discarded() && ordered.is_object(), "line does not parse as an object");
  checkKeyOrder(ordered);
  if (validUtf8(event)) check(json::parse(line) == event, "line does not read back the same");
}

std::string base64(const std::vector<std::int16_t>& samples) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<std::uint8_t> bytes;
  for (const auto sample : samples) {
    bytes.push_back(static_cast<std::uint8_t>(sample & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
  }
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t b0 = bytes[i];
    const std::uint32_t b1 = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    const std::uint32_t b2 = i + 2 < bytes.size() ? bytes[i + 2] : 0;
    const std::uint32_t group = b0 << 16 | b1 << 8 | b2;
    out += kAlphabet[group >> 18];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

void checkChunkLine(FuzzedDataProvider& in) {
  const std::string job = text(in);
  const std::string source = text(in);
  mirevo::audio::ChunkLine builder(job, source);
  for (int round = 0; round < 2; ++round) {  // a second build reuses the buffer
    mirevo::audio::ChunkFields fields;
    fields.sequence = in.ConsumeIntegral<std::int64_t>();
    fields.startedAtMs = in.ConsumeIntegral<std::int64_t>();
    fields.durationMs = in.ConsumeIntegral<std::int64_t>();
    fields.sampleRate = in.ConsumeIntegral<std::int64_t>();
    std::vector<std::int16_t> samples(in.ConsumeIntegralInRange<std::size_t>(0, 300));
    for (auto& sample : samples) sample = in.ConsumeIntegral<std::int16_t>();
    const json event = {{"type", "audio_chunk"},
                        {"jobId", job},
                        {"source", source},
                        {"sequence", fields.sequence},
                        {"startedAtMs", fields.startedAtMs},
                        {"durationMs", fields.durationMs},
                        {"sampleRate", fields.sampleRate},
                        {"channels", 1},
                        {"encoding", "pcm_s16le"},
                        {"dataBase64", base64(samples)}};
    check(builder.build(fields, samples) == mirevo::Output::serialise(event),
          "chunk line differs from the emitter's line");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    checkChunkLine(in);
  } else {
    checkEvent(object(in, 0));
  }
  return 0;
}
