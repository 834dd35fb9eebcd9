#include "control/Command.hpp"

#include <nlohmann/json.hpp>

#include "platform/Error.hpp"

namespace mirevo::control {
namespace {

enum ErrorCode : std::int64_t { kNotJson = 1, kNotObject, kMissingType, kNotString };

[[noreturn]] void fail(ErrorCode code, std::string description) {
  throw platform::Error(kCommandErrorDomain, code, std::move(description));
}

// A key that is absent or null has no value; any other kind but a string is
// an error (numbers are not turned into strings).
std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  if (!found->is_string())
    fail(kNotString, std::string("The command's \"") + key + "\" is not a string.");
  return found->get<std::string>();
}

}  // namespace

Command decodeCommand(std::string_view line) {
  // JSON text never holds a raw NUL byte, but the parser would take one for
  // the end of input and accept whatever came before it.
  if (line.find('\0') != std::string_view::npos) fail(kNotJson, "The command is not valid JSON.");
  // Parsing without exceptions; the parser checks UTF-8 inside strings and
  // refuses anything after the value, comments included.
  const auto object = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
  if (object.is_discarded()) fail(kNotJson, "The command is not valid JSON.");
  if (!object.is_object()) fail(kNotObject, "The command is not a JSON object.");

  Command command;
  auto type = optionalString(object, "type");
  if (!type) fail(kMissingType, "The command has no \"type\".");
  command.type = std::move(*type);
  command.sessionId = optionalString(object, "sessionId");
  command.jobId = optionalString(object, "jobId");
  command.microphoneDeviceId = optionalString(object, "microphoneDeviceId");
  return command;
}

}  // namespace mirevo::control
