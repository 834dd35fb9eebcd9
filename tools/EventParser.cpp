#include "EventParser.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

#include <nlohmann/json.hpp>

#include "Base64.hpp"
#include "CleanChunkLine.hpp"
#include "LineFormat.hpp"

namespace mirevo::inspect {
namespace {

using Json = nlohmann::json;

// Typed access to the keys of one event object; every missing key or value of
// the wrong kind is added to `problems` under its key's name (nulls are
// reported by reportNulls). The keys asked for are the ones the object's type
// defines: rejectOtherKeys reports any other.
class Fields {
 public:
  Fields(const Json& object, std::vector<std::string>& problems)
      : object_(object), problems_(problems) {}

  std::optional<std::string> string(const char* key) {
    const Json* value = required(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) return wrongKind(key, "a string");
    return value->get<std::string>();
  }

  // A key that may be absent, but never null.
  std::optional<std::string> optionalString(const char* key) {
    defined_.insert(key);
    if (!object_.contains(key)) return std::nullopt;
    return string(key);
  }

  std::optional<std::int64_t> integer(const char* key) {
    const Json* value = required(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_number_integer()) return wrongKind(key, "an integer");
    return value->get<std::int64_t>();
  }

  std::optional<double> number(const char* key) {
    const Json* value = required(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_number()) return wrongKind(key, "a number");
    return value->get<double>();
  }

  std::optional<bool> boolean(const char* key) {
    const Json* value = required(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_boolean()) return wrongKind(key, "a boolean");
    return value->get<bool>();
  }

  const Json* array(const char* key) {
    const Json* value = required(key);
    if (value == nullptr) return nullptr;
    if (!value->is_array()) {
      wrongKind(key, "an array");
      return nullptr;
    }
    return value;
  }

  void problem(std::string text) { problems_.push_back(std::move(text)); }

  // After every key of the type has been asked for: the agent writes no other.
  void rejectOtherKeys(const std::string& owner) {
    for (const auto& [key, value] : object_.items()) {
      if (!defined_.contains(key)) problem("key \"" + key + "\" is not defined for " + owner);
    }
  }

 private:
  const Json* required(const char* key) {
    defined_.insert(key);
    const auto found = object_.find(key);
    if (found == object_.end()) {
      problem(std::string("missing key \"") + key + "\"");
      return nullptr;
    }
    if (found->is_null()) return nullptr;
    return &*found;
  }

  std::nullopt_t wrongKind(const char* key, const char* kind) {
    problem(std::string("key \"") + key + "\" is not " + kind);
    return std::nullopt;
  }

  const Json& object_;
  std::vector<std::string>& problems_;
  std::set<std::string, std::less<>> defined_;
};

// No event carries a null, at any depth: each is named by its path
// ("devices[0].label").
void reportNulls(const Json& value, const std::string& path, std::vector<std::string>& problems) {
  if (value.is_null()) {
    problems.push_back("key \"" + path + "\" is null");
  } else if (value.is_object()) {
    for (const auto& [key, member] : value.items())
      reportNulls(member, path.empty() ? key : path + "." + key, problems);
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i)
      reportNulls(value[i], path + "[" + std::to_string(i) + "]", problems);
  }
}

void expectText(Fields& fields, const std::optional<std::string>& value, const char* key,
                std::initializer_list<std::string_view> allowed) {
  if (!value) return;
  for (std::string_view text : allowed)
    if (*value == text) return;
  fields.problem(std::string("key \"") + key + "\" has the unexpected value \"" + *value + "\"");
}

std::optional<Event> readAudioChunk(Fields& fields) {
  const auto channels = fields.integer("channels");
  const auto data = fields.string("dataBase64");
  const auto durationMs = fields.integer("durationMs");
  const auto encoding = fields.string("encoding");
  const auto jobId = fields.string("jobId");
  const auto sampleRate = fields.integer("sampleRate");
  const auto sequence = fields.integer("sequence");
  const auto source = fields.string("source");
  const auto startedAtMs = fields.integer("startedAtMs");

  if (channels && *channels != 1)
    fields.problem("\"channels\" is " + std::to_string(*channels) + ", not 1");
  expectText(fields, encoding, "encoding", {"pcm_s16le"});
  expectText(fields, source, "source", {"microphone", "system"});
  if (sampleRate && (*sampleRate < 8000 || *sampleRate > 192000))
    fields.problem("\"sampleRate\" " + std::to_string(*sampleRate) + " is outside 8000..192000");
  if (sequence && *sequence < 0) fields.problem("\"sequence\" is negative");
  if (startedAtMs && *startedAtMs < 0) fields.problem("\"startedAtMs\" is negative");

  if (!jobId || !source || !sequence || !startedAtMs || !sampleRate || *sampleRate <= 0)
    return std::nullopt;

  AudioChunkEvent chunk{*jobId,      *source, *sequence, *startedAtMs, durationMs.value_or(0),
                        *sampleRate, {}};
  if (!data) return chunk;
  auto bytes = decodeBase64(*data);
  if (!bytes) {
    fields.problem("\"dataBase64\" is not valid base64");
    return chunk;
  }
  if (bytes->empty()) fields.problem("the chunk carries no audio");
  if (bytes->size() % 2 != 0)
    fields.problem("odd byte count " + std::to_string(bytes->size()) + " in \"dataBase64\"");
  chunk.samples = littleEndianSamples(*bytes);
  if (durationMs && !chunk.samples.empty()) {
    const std::int64_t expected = expectedDurationMs(chunk.samples.size(), *sampleRate);
    if (*durationMs != expected)
      fields.problem("\"durationMs\" is " + std::to_string(*durationMs) + " but " +
                     std::to_string(chunk.samples.size()) + " samples at " +
                     std::to_string(*sampleRate) + " Hz last " + std::to_string(expected) + " ms");
  }
  return chunk;
}

std::optional<double> level(Fields& fields, const char* key) {
  const auto value = fields.number(key);
  if (value && !(*value >= 0.0 && *value <= 1.0))
    fields.problem(std::string("\"") + key + "\" is outside 0..1");
  return value;
}

std::optional<Event> readStatus(Fields& fields) {
  const auto elapsedSeconds = fields.integer("elapsedSeconds");
  const auto message = fields.string("message");
  const auto microphoneState = fields.string("microphoneAudioState");
  const auto microphoneLevel = level(fields, "microphoneLevel");
  const auto sessionId = fields.string("sessionId");
  const auto state = fields.string("state");
  const auto systemState = fields.string("systemAudioState");
  const auto systemLevel = level(fields, "systemLevel");

  if (elapsedSeconds && *elapsedSeconds < 0) fields.problem("\"elapsedSeconds\" is negative");
  expectText(fields, microphoneState, "microphoneAudioState", {"active", "warning"});
  expectText(fields, systemState, "systemAudioState", {"active", "waiting"});
  expectText(fields, state, "state", {"recording"});
  if (!sessionId || !elapsedSeconds) return std::nullopt;
  return StatusEvent{*sessionId,
                     *elapsedSeconds,
                     microphoneLevel.value_or(0.0),
                     systemLevel.value_or(0.0),
                     microphoneState == "active",
                     systemState == "active"};
}

std::optional<Event> readDevices(Fields& fields, std::vector<std::string>& problems) {
  const Json* devices = fields.array("devices");
  if (devices == nullptr) return std::nullopt;
  DevicesEvent event;
  for (const Json& device : *devices) {
    if (device.is_null()) continue;  // a null, reported as such
    if (!device.is_object()) {
      fields.problem("a device entry is not an object");
      continue;
    }
    Fields entry(device, problems);
    entry.string("id");
    entry.boolean("isDefault");
    expectText(entry, entry.string("kind"), "kind", {"audioinput"});
    event.labels.push_back(entry.string("label").value_or(""));
    entry.rejectOtherKeys("a device");
  }
  return event;
}

std::optional<Event> readSelfTest(Fields& fields) {
  fields.string("minimumMacOS");
  fields.string("platform");
  fields.integer("protocolVersion");
  return SelfTestEvent{};
}

std::optional<Event> readTypedEvent(Fields& fields, const std::string& type,
                                    std::vector<std::string>& problems) {
  if (type == "audio_chunk") return readAudioChunk(fields);
  if (type == "status") return readStatus(fields);
  if (type == "completed") {
    const auto sessionId = fields.string("sessionId");
    if (!sessionId) return std::nullopt;
    return CompletedEvent{*sessionId};
  }
  if (type == "failed") {
    const auto message = fields.string("message");
    const auto sessionId = fields.optionalString("sessionId");
    if (!message) return std::nullopt;
    return FailedEvent{*message, sessionId};
  }
  if (type == "devices") return readDevices(fields, problems);
  if (type == "self_test") return readSelfTest(fields);
  return std::nullopt;
}

std::optional<Event> readEvent(const Json& object, std::vector<std::string>& problems) {
  // The types readTypedEvent reads.
  static const std::set<std::string, std::less<>> kTypes = {"audio_chunk", "status",  "completed",
                                                            "failed",      "devices", "self_test"};
  Fields fields(object, problems);
  const auto type = fields.string("type");
  if (!type) return std::nullopt;
  if (!kTypes.contains(*type)) {
    fields.problem("unknown event type \"" + *type + "\"");
    return std::nullopt;
  }
  auto event = readTypedEvent(fields, *type, problems);
  fields.rejectOtherKeys("\"" + *type + "\"");
  return event;
}

}  // namespace

std::vector<std::int16_t> littleEndianSamples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
}

std::int64_t expectedDurationMs(std::size_t samples, std::int64_t sampleRate) {
  const double ms = static_cast<double>(samples) / static_cast<double>(sampleRate) * 1000.0;
  return std::max<std::int64_t>(1, std::llround(ms));
}

ParsedLine parseEventLine(std::string_view line) {
  ParsedLine parsed;
  if (auto chunk = readCleanChunkLine(line)) {
    parsed.event = std::move(*chunk);
    return parsed;
  }
  const Json object = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (object.is_discarded()) {
    parsed.problems.push_back(line.empty() ? "is empty" : "is not JSON");
    return parsed;
  }
  if (!object.is_object()) {
    parsed.problems.push_back("is not a JSON object");
    return parsed;
  }
  if (auto problem = findFramingProblem(line)) parsed.problems.push_back(*problem);
  if (auto problem = findKeyOrderProblem(line)) parsed.problems.push_back(*problem);
  reportNulls(object, "", parsed.problems);
  parsed.event = readEvent(object, parsed.problems);
  return parsed;
}

}  // namespace mirevo::inspect
