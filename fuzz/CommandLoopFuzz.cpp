// Fuzzes line framing and command decoding through the real command loop,
// over the loop's test double of the session. The first input byte scripts
// how many starts and stops the double refuses; the rest is the command input.
// Every output line must be exactly what a plain model of the protocol
// expects, event by event. The line reader is also run on its own with a
// small line limit and tiny reads, so that oversized lines, and line ends
// split across reads, come up at fuzzing sizes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "CapturedOutput.hpp"
#include "CommandInput.hpp"
#include "FakeCapture.hpp"
#include "control/CaptureMain.hpp"
#include "control/LineReader.hpp"
#include "control/UnicodeEquivalence.hpp"

namespace {

using mirevo::control::LineReader;
using nlohmann::json;

constexpr std::string_view kRefusedStop = "The stream refused to stop.";

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "command loop fuzz: %s\n", what);
    std::abort();
  }
}

// --- The model ---------------------------------------------------------

struct ModelLine {
  std::string text;
  bool tooLong = false;
};

// LF, CR and CR LF end a line; blank lines are dropped; an unterminated last
// line counts; a line over `limit` bytes is only reported.
std::vector<ModelLine> frame(std::string_view input, std::size_t limit) {
  std::vector<ModelLine> lines;
  std::string current;
  const auto end = [&] {
    if (current.size() > limit) {
      lines.push_back({"", true});
    } else if (!current.empty()) {
      lines.push_back({current, false});
    }
    current.clear();
  };
  for (std::size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    if (c == '\n' || c == '\r') {
      end();
      if (c == '\r' && i + 1 < input.size() && input[i + 1] == '\n') ++i;
    } else {
      current.push_back(c);
    }
  }
  end();
  return lines;
}

struct ModelCommand {
  std::string type;
  std::optional<std::string> sessionId, jobId, microphoneDeviceId;
};

// Strict decoding: one JSON object, a string `type`, the three identifiers
// strings or absent or null. A raw NUL byte never belongs to JSON text.
std::optional<ModelCommand> decode(const std::string& line) {
  if (line.find('\0') != std::string::npos) return std::nullopt;
  const json value = json::parse(line, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  ModelCommand command;
  bool ok = true;
  const auto field = [&](const char* key) -> std::optional<std::string> {
    const auto it = value.find(key);
    if (it == value.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) {
      ok = false;
      return std::nullopt;
    }
    return it->get<std::string>();
  };
  const auto type = field("type");
  command.sessionId = field("sessionId");
  command.jobId = field("jobId");
  command.microphoneDeviceId = field("microphoneDeviceId");
  if (!ok || !type) return std::nullopt;
  command.type = *type;
  return command;
}

// The events the protocol prescribes for the whole input. A `failed` event
// whose message is left to the implementation has a null message here.
class Model {
 public:
  Model(int failingStarts, int failingStops, json devices)
      : failingStarts_(failingStarts), failingStops_(failingStops), devices_(std::move(devices)) {}

  void line(const ModelLine& line) {
    if (line.tooLong) return failWithoutCommand();
    const auto command = decode(line.text);
    if (!command) return failWithoutCommand();
    if (command->type == "list_devices") {
      expected.push_back({{"type", "devices"}, {"devices", devices_}});
    } else if (command->type == "start") {
      start(*command);
    } else if (command->type == "stop") {
      stop(*command);
    } else {
      failed("Unknown capture command.", std::nullopt);
    }
  }

  void endOfInput() {
    if (active_) stopSession(*active_);
    active_.reset();
  }

  std::vector<json> expected;

 private:
  void start(const ModelCommand& c) {
    const auto present = [](const auto& id) { return id && !id->empty(); };
    if (active_ || !present(c.sessionId) || !present(c.jobId)) {
      return failed("Invalid start request or capture already active.", c.sessionId);
    }
    if (failingStarts_ > 0) {
      --failingStarts_;
      failed("The selected microphone is no longer available.", c.sessionId);
      stopSession(*c.sessionId);
      return;
    }
    active_ = *c.sessionId;
  }

  void stop(const ModelCommand& c) {
    if (!active_ || !c.sessionId ||
        !mirevo::control::canonicallyEquivalent(*c.sessionId, *active_)) {
      return failed("No active recording session.", c.sessionId);
    }
    if (!stopSession(*active_)) {
      failed(std::string(kRefusedStop), c.sessionId);
      stopSession(*active_);
    }
    active_.reset();
  }

  void failWithoutCommand() {
    failed(std::nullopt, std::nullopt);
    endOfInput();
  }

  // The double's stop: refused while refusals are left, else `completed`.
  bool stopSession(const std::string& session) {
    if (failingStops_ > 0) {
      --failingStops_;
      return false;
    }
    expected.push_back({{"type", "completed"}, {"sessionId", session}});
    return true;
  }

  void failed(const std::optional<std::string>& message,
              const std::optional<std::string>& session) {
    json event = {{"type", "failed"}, {"message", nullptr}};
    if (message) event["message"] = *message;
    if (session) event["sessionId"] = *session;
    expected.push_back(std::move(event));
  }

  int failingStarts_;
  int failingStops_;
  json devices_;
  std::optional<std::string> active_;
};

bool matches(const json& expected, const json& actual) {
  if (!expected.contains("message") || !expected["message"].is_null()) return expected == actual;
  // A message of the implementation's own wording: any non-empty text.
  json rest = actual;
  const auto message = rest.find("message");
  if (message == rest.end() || !message->is_string() || message->get<std::string>().empty())
    return false;
  rest["message"] = nullptr;
  return rest == expected;
}

// --- The two runs --------------------------------------------------------

void checkLineReader(std::string_view input, std::size_t limit, std::size_t readBytes) {
  const mirevo::testing::CommandInput file(input);
  LineReader reader(file.fd(), limit, readBytes);
  const auto model = frame(input, limit);
  std::size_t at = 0;
  for (;;) {
    const auto result = reader.next();
    if (result.outcome == LineReader::Outcome::endOfInput) break;
    check(result.outcome != LineReader::Outcome::readError, "read error on a memory file");
    check(at < model.size(), "line reader: more lines than the input holds");
    const bool tooLong = result.outcome == LineReader::Outcome::lineTooLong;
    check(tooLong == model[at].tooLong, "line reader: oversized line misjudged");
    if (!tooLong) check(result.text == model[at].text, "line reader: wrong line");
    ++at;
  }
  check(at == model.size(), "line reader: lines missing");
  check(reader.next().outcome == LineReader::Outcome::endOfInput, "end of input not repeated");
}

void checkCommandLoop(std::string_view input, int failingStarts, int failingStops) {
  static mirevo::testing::CapturedOutput output;
  output.clear();
  mirevo::testing::FakeEnvironment env;
  env.failingStarts = failingStarts;
  env.failingStops = failingStops;
  env.devices = json::array(
      {{{"id", "usb/3"}, {"isDefault", true}, {"kind", "audioinput"}, {"label", "Héadset"}}});

  const mirevo::testing::CommandInput file(input);
  const std::vector<std::string> args = {"mirevo-capture"};
  const int status =
      mirevo::control::CaptureMain<mirevo::testing::FakeCapture>::main(args, file.fd(), env);
  check(status == 0, "exit status not 0");

  Model model(failingStarts, failingStops, env.devices);
  for (const auto& line : frame(input, LineReader::kMaxLineBytes)) model.line(line);
  model.endOfInput();

  const std::string text = output.text();
  check(text.empty() || text.back() == '\n', "last line not ended");
  const auto lines = output.lines();
  check(lines.size() == model.expected.size(), "wrong number of events");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    check(lines[i].find('\r') == std::string::npos, "carriage return written");
    const json actual = json::parse(lines[i], nullptr, false);
    check(!actual.is_discarded(), "event line is not JSON");
    check(matches(model.expected[i], actual), "event differs from the protocol's");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int failingStarts = data[0] & 3;
  const int failingStops = (data[0] >> 2) & 3;
  const std::size_t limit = 1 + (data[0] >> 4);  // 1 to 16 bytes
  const std::size_t readBytes = 1 + (data[1] & 7);
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
  checkLineReader(input, limit, readBytes);
  checkCommandLoop(input, failingStarts, failingStops);
  return 0;
}
