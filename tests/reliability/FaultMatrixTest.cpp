// The whole agent in-process (the command loop over real sessions on the
// simulated platform) under one fault per row. Each row is a script of
// command lines and of what the platform does meanwhile; every row checks the
// exact event sequence, exit status 0 at the end of input, and that no audio
// was lost: every sample delivered before its session ended appears in
// exactly one chunk, in order.
//
// The platform acts between commands: each `meanwhile` step becomes a
// `list_devices` line, and its action runs when the loop lists the devices
// for it, so everything runs on the test's thread in a fixed order.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CapturedOutput.hpp"
#include "ChunkSamples.hpp"
#include "CommandInput.hpp"
#include "MonoMixReference.hpp"
#include "PosixDescriptors.hpp"
#include "SimSession.hpp"
#include "control/CaptureMain.hpp"
#include "control/ProcessSignals.hpp"

namespace mirevo::testing {
namespace {

using platform::Error;
using platform::kOutputTypeAudio;
using platform::kOutputTypeMicrophone;
using sim::SimStep;

constexpr const char* kRefusedStop = "The stream refused to stop.";
constexpr const char* kStreamStopped = "The stream stopped unexpectedly.";

// Lists devices as the simulated discovery does, running the script's next
// platform action first each time.
class ScriptPoints final : public platform::DeviceDiscovery {
 public:
  explicit ScriptPoints(platform::DeviceDiscovery& inner) : inner_(inner) {}

  std::optional<platform::CaptureDevice> defaultAudioDevice() override {
    return inner_.defaultAudioDevice();
  }
  std::vector<platform::CaptureDevice> discoverAudioDevices() override {
    if (!actions.empty()) {
      const auto action = std::move(actions.front());
      actions.pop_front();
      action();
    }
    return inner_.discoverAudioDevices();
  }

  std::deque<std::function<void()>> actions;

 private:
  platform::DeviceDiscovery& inner_;
};

// The agent with its platform, and the audio the platform handed over.
class Agent {
 public:
  Agent() : points_(sim.devices), platform_{sim.capture, points_, sim.clock, sim.manualQueues} {
    prepare(sim);
  }

  // Mono 16-bit audio whose every sample is told apart by its value, on a
  // continuous timeline per job and source. `counted`: whether the sample
  // must reach the parent (false for audio delivered after its session
  // ended, which is dropped).
  void deliver(const std::string& job, int outputType, std::int64_t frames, bool counted = true) {
    Stream& stream = streams_[{job, outputType}];
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames));
    for (auto& sample : samples) {
      sample = static_cast<std::int16_t>(1 + stream.delivered++ % 32000);
      if (counted) stream.expected.push_back(convertedPcm16(sample));
    }
    const double at = kOriginSeconds + static_cast<double>(stream.delivered - frames) / 48000.0;
    EXPECT_TRUE(sim.capture.deliver(
        outputType,
        std::make_shared<sim::SimSampleBuffer>(sim::SimSampleBuffer::mono(samples, 48000.0, at))));
  }
  void deliverUnconvertible() {
    EXPECT_TRUE(sim.capture.deliver(kOutputTypeMicrophone, unconvertible()));
  }
  std::size_t drain() { return sim.runPending(); }

  // What the parent must have received of one job and source.
  std::vector<std::int16_t> expectedAudio(const std::string& job, const std::string& source) {
    const int type = source == "microphone" ? kOutputTypeMicrophone : kOutputTypeAudio;
    return streams_[{job, type}].expected;
  }

  int run(const std::string& input, std::deque<std::function<void()>> actions) {
    points_.actions = std::move(actions);
    const CommandInput commands(input);
    const std::vector<std::string> args = {"mirevo-capture"};
    const int status = control::CaptureMain<Capture>::main(args, commands.fd(), platform_);
    EXPECT_TRUE(points_.actions.empty()) << "script actions left over";
    return status;
  }

  sim::SimPlatform sim;

 private:
  struct Stream {
    std::int64_t delivered = 0;
    std::vector<std::int16_t> expected;
  };
  ScriptPoints points_;
  platform::Platform platform_;
  std::map<std::pair<std::string, int>, Stream> streams_;
};

// One line of a row's script: a command, or what the platform does meanwhile.
struct Step {
  std::string line;
  std::function<void(Agent&)> action;  // set for `meanwhile`
};

Step send(std::string line) {
  return {std::move(line), nullptr};
}
Step start(const std::string& session, const std::string& job, const std::string& device = "") {
  std::string line = R"({"type":"start","sessionId":")" + session + R"(","jobId":")" + job + '"';
  if (!device.empty()) line += R"(,"microphoneDeviceId":")" + device + '"';
  return send(line + "}");
}
Step stop(const std::string& session) {
  return send(R"({"type":"stop","sessionId":")" + session + "\"}");
}
Step meanwhile(std::function<void(Agent&)> action) {
  return {R"({"type":"list_devices"})", std::move(action)};
}

// 1.25 s of microphone and 0.625 s of system audio: one full microphone
// chunk goes out at once, the rest stays gathered.
void recordSome(Agent& a) {
  a.deliver("job-1", kOutputTypeMicrophone, 60000);
  a.deliver("job-1", kOutputTypeAudio, 30000);
  a.drain();
}

// Whether the parent reads the output to the end or closes it midway.
enum class Reader { toTheEnd, closesMidway };

struct Row {
  std::string name;
  std::function<void(Agent&)> setUp;
  std::vector<Step> script;
  std::vector<std::string> expected;  // the events, `devices` left out
  bool recovers = true;               // whether a second recording follows
  Reader reader = Reader::toTheEnd;
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

// After the fault: the platform behaves again, and a new recording works.
const std::vector<Step> kRecovery = {
    meanwhile([](Agent& a) {
      a.sim.capture.setMicrophoneAccess(true);
      a.sim.capture.setDisplays({{"sim-display-0", "Simulated Display", "sim-display-0.monitor"}});
      for (const SimStep step : {SimStep::addAudioOutput, SimStep::addMicrophoneOutput,
                                 SimStep::startCapture, SimStep::stopCapture}) {
        a.sim.capture.clearFailure(step);
      }
      a.sim.capture.onStep(SimStep::stopCapture, [] {});
    }),
    start("sess-2", "job-2"),
    meanwhile([](Agent& a) {
      a.deliver("job-2", kOutputTypeMicrophone, 24000);
      a.deliver("job-2", kOutputTypeAudio, 12000);
      a.drain();
    }),
    stop("sess-2"),
};
const std::vector<std::string> kRecovered = {"status sess-2", "chunk microphone job-2 0 500ms",
                                             "chunk system job-2 0 250ms", "completed sess-2"};

// The text is built by appending to one string: g++ 12 at -O3 warns falsely
// (-Wrestrict) about a literal + a temporary string.
std::string describe(const nlohmann::json& event) {
  const auto string = [&](const char* key) -> const std::string& {
    return event.at(key).get_ref<const std::string&>();
  };
  std::string text = string("type");
  if (text == "audio_chunk") {
    text = "chunk";
    for (const char* key : {"source", "jobId"}) text.append(" ").append(string(key));
    text.append(" ").append(std::to_string(event.at("sequence").get<int>()));
    text.append(" ").append(std::to_string(event.at("durationMs").get<int>())).append("ms");
    return text;
  }
  if (event.contains("sessionId")) text.append(" ").append(string("sessionId"));
  if (string("type") == "failed") text.append(": ").append(string("message"));
  return text;
}

std::vector<std::string> describeAll(const std::vector<nlohmann::json>& events) {
  std::vector<std::string> result;
  for (const auto& event : events) {
    if (event.at("type") != "devices") result.push_back(describe(event));
  }
  return result;
}

// Every chunk of every job and source, in order: sequences from 0 without a
// gap, and the samples exactly those the platform delivered in time.
void expectNoAudioLost(Agent& agent, const std::vector<nlohmann::json>& events) {
  std::map<std::pair<std::string, std::string>, std::vector<std::int16_t>> received;
  std::map<std::pair<std::string, std::string>, int> nextSequence;
  for (const auto& event : events) {
    if (event.at("type") != "audio_chunk") continue;
    const std::pair<std::string, std::string> key{event.at("jobId"), event.at("source")};
    EXPECT_EQ(event.at("sequence"), nextSequence[key]++) << key.first << " " << key.second;
    const auto samples = chunkSamples(event);
    received[key].insert(received[key].end(), samples.begin(), samples.end());
  }
  for (const std::string job : {"job-1", "job-2"}) {
    for (const std::string source : {"microphone", "system"}) {
      const std::pair<std::string, std::string> key{job, source};
      EXPECT_EQ(received[key], agent.expectedAudio(job, source)) << job << " " << source;
    }
  }
}

// Reads what is waiting in a pipe without blocking.
// The parent's end of the output, read all along as a parent reads it (a
// pipe holds 64 KiB, less than one chunk line), until closeNow() takes what
// is still waiting and closes it.
class ParentReader {
 public:
  explicit ParentReader(int fd) : fd_(fd), thread_([this] { readUntilClosed(); }) {}
  ~ParentReader() { closeNow(); }

  // Everything read; the read end is closed when this returns.
  const std::string& closeNow() {
    if (thread_.joinable()) {
      closing_ = true;
      thread_.join();
    }
    return text_;
  }

 private:
  void readUntilClosed() {
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    char chunk[65536];
    for (;;) {
      const bool last = closing_;  // one more full read after the request
      for (ssize_t got; (got = ::read(fd_, chunk, sizeof chunk)) > 0;) {
        text_.append(chunk, static_cast<std::size_t>(got));
      }
      if (last) break;
      pollfd readable{fd_, POLLIN, 0};
      ::poll(&readable, 1, 10);
    }
    ::close(fd_);
  }

  const int fd_;
  std::string text_;
  std::atomic<bool> closing_{false};
  std::thread thread_;  // last: it starts once the rest is ready
};

std::vector<nlohmann::json> parseLines(const std::string& text) {
  std::vector<nlohmann::json> events;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    events.push_back(nlohmann::json::parse(text.substr(begin, end - begin)));
  }
  return events;
}

class FaultMatrixTest : public ::testing::TestWithParam<Row> {
 protected:
  // As in the agent: a closed output must not end the process.
  static void SetUpTestSuite() { control::ignoreBrokenPipe(); }
};

TEST_P(FaultMatrixTest, EventsExitStatusAndAudio) {
  const Row& row = GetParam();
  Agent agent;
  if (row.setUp) row.setUp(agent);

  std::vector<Step> script = row.script;
  std::vector<std::string> expected = row.expected;
  if (row.recovers) {
    script.insert(script.end(), kRecovery.begin(), kRecovery.end());
    expected.insert(expected.end(), kRecovered.begin(), kRecovered.end());
  }
  std::string input;
  std::deque<std::function<void()>> actions;
  for (const Step& step : script) {
    input += step.line + "\n";
    if (step.action) actions.push_back([&agent, action = step.action] { action(agent); });
    // A start that names a microphone lists the devices too: its turn is idle.
    if (step.line.find("microphoneDeviceId") != std::string::npos) {
      actions.push_back([] {});
    }
  }

  if (row.reader == Reader::toTheEnd) {
    CapturedOutput output;
    EXPECT_EQ(agent.run(input, std::move(actions)), 0);
    const auto events = output.events();
    EXPECT_EQ(describeAll(events), expected);
    expectNoAudioLost(agent, events);
    return;
  }

  // The parent closes its end of the output once the script says so; what
  // it read until then is checked, and the agent must still finish.
  int pipeFds[2];
  ASSERT_TRUE(mirevo::testing::makePipe(pipeFds));
  ParentReader reader(pipeFds[0]);
  const int previous = Output::redirectForTesting(pipeFds[1]);
  std::string seen;
  bool closed = false;
  for (auto& action : actions) {
    action = [action, &seen, &closed, &reader] {
      action();
      if (!closed) {  // the first action closes the output after it
        seen = reader.closeNow();
        closed = true;
      }
    };
  }
  const int status = agent.run(input, std::move(actions));
  Output::redirectForTesting(previous);
  ::close(pipeFds[1]);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(describeAll(parseLines(seen)), expected);
  EXPECT_TRUE(agent.sim.calls.contains("stopCapture"));
  EXPECT_FALSE(agent.sim.capture.streamAlive());
}

Error platformError(const char* text) {
  return Error("SCStreamErrorDomain", -3805, text);
}

// Delivers audio during every stream stop, before it is refused or done.
void deliverWhileStopping(Agent& a, std::int64_t frames) {
  a.sim.capture.onStep(SimStep::stopCapture,
                       [&a, frames] { a.deliver("job-1", kOutputTypeMicrophone, frames); });
}

const Row kRows[] = {
    {"PermissionDenied",
     [](Agent& a) { a.sim.capture.setMicrophoneAccess(false); },
     {start("sess-1", "job-1")},
     {"failed sess-1: Allow Mirevo microphone access in System Settings → Privacy & Security → "
      "Microphone, then restart Mirevo.",
      "completed sess-1"}},
    {"NoDisplay",
     [](Agent& a) { a.sim.capture.setDisplays({}); },
     {start("sess-1", "job-1")},
     {"failed sess-1: An active macOS display is required for system audio capture.",
      "completed sess-1"}},
    {"MissingMicrophone",
     nullptr,
     {start("sess-1", "job-1", "unplugged")},
     {"failed sess-1: The selected microphone is no longer available.", "completed sess-1"}},
    {"SystemAudioOutputRefused",
     [](Agent& a) { a.sim.capture.failAt(SimStep::addAudioOutput, platformError("no audio")); },
     {start("sess-1", "job-1")},
     {"failed sess-1: no audio", "completed sess-1"}},
    {"MicrophoneOutputRefused",
     [](Agent& a) { a.sim.capture.failAt(SimStep::addMicrophoneOutput, platformError("no mic")); },
     {start("sess-1", "job-1")},
     {"failed sess-1: no mic", "completed sess-1"}},
    {"CaptureDoesNotStart",
     [](Agent& a) { a.sim.capture.failAt(SimStep::startCapture, platformError("busy")); },
     {start("sess-1", "job-1")},
     {"failed sess-1: busy", "completed sess-1"}},
    {"StreamErrorMidRecording",
     nullptr,
     {start("sess-1", "job-1"), meanwhile(recordSome), meanwhile([](Agent& a) {
        a.deliver("job-1", kOutputTypeMicrophone, 4800);
        EXPECT_TRUE(a.sim.capture.reportStreamError(platformError(kStreamStopped)));
        a.deliver("job-1", kOutputTypeMicrophone, 4800, /*counted=*/false);
        a.drain();
      }),
      start("sess-2", "job-2"), stop("sess-1")},
     {"status sess-1", "chunk microphone job-1 0 1000ms", "chunk microphone job-1 1 350ms",
      "chunk system job-1 0 625ms", std::string("failed sess-1: ") + kStreamStopped,
      "failed sess-2: Invalid start request or capture already active."}},
    {"ConversionErrorMidRecording",
     nullptr,
     {start("sess-1", "job-1"), meanwhile(recordSome), meanwhile([](Agent& a) {
        a.deliver("job-1", kOutputTypeAudio, 4800);
        a.deliverUnconvertible();
        a.deliver("job-1", kOutputTypeAudio, 4800, /*counted=*/false);
        a.drain();
      }),
      stop("sess-1")},
     {"status sess-1", "chunk microphone job-1 0 1000ms", "chunk microphone job-1 1 250ms",
      "chunk system job-1 0 725ms", "failed sess-1: Unsupported PCM sample type."}},
    {"StopRefusedOnceThenDone",
     [](Agent& a) {
       a.sim.capture.failAt(SimStep::stopCapture, platformError(kRefusedStop));
       deliverWhileStopping(a, 2400);
     },
     {start("sess-1", "job-1"), meanwhile(recordSome), stop("sess-1")},
     {"status sess-1", "chunk microphone job-1 0 1000ms",
      std::string("failed sess-1: ") + kRefusedStop, "chunk microphone job-1 1 350ms",
      "chunk system job-1 0 625ms", "completed sess-1"}},
    // Given up after its second refusal, the session ends without its last
    // chunks: only the full second that went out before is received.
    {"StopRefusedTwiceGivesTheSessionUp",
     [](Agent& a) {
       a.sim.capture.failAt(SimStep::stopCapture, platformError(kRefusedStop), true);
       a.sim.capture.onStep(SimStep::stopCapture, [&a] {
         a.deliver("job-1", kOutputTypeMicrophone, 2400, /*counted=*/false);
       });
     },
     {start("sess-1", "job-1"), meanwhile([](Agent& a) {
        a.deliver("job-1", kOutputTypeMicrophone, 48000);
        a.deliver("job-1", kOutputTypeMicrophone, 12000, /*counted=*/false);
        a.deliver("job-1", kOutputTypeAudio, 30000, /*counted=*/false);
        a.drain();
      }),
      stop("sess-1")},
     {"status sess-1", "chunk microphone job-1 0 1000ms",
      std::string("failed sess-1: ") + kRefusedStop}},
    {"StreamErrorRacesTheFinalStopStep",
     [](Agent& a) {
       a.sim.capture.onStep(SimStep::stopCapture, [&a] {
         a.deliver("job-1", kOutputTypeMicrophone, 4800);
         EXPECT_TRUE(a.sim.capture.reportStreamError(platformError(kStreamStopped)));
       });
     },
     {start("sess-1", "job-1"), meanwhile(recordSome), stop("sess-1")},
     {"status sess-1", "chunk microphone job-1 0 1000ms", "chunk microphone job-1 1 350ms",
      "chunk system job-1 0 625ms", std::string("failed sess-1: ") + kStreamStopped}},
    {"OutputClosedMidRecording",
     nullptr,
     {start("sess-1", "job-1"), meanwhile(recordSome), meanwhile([](Agent& a) {
        a.deliver("job-1", kOutputTypeMicrophone, 60000);
        a.drain();
      }),
      stop("sess-1"), send(R"({"type":"bogus"})")},
     {"status sess-1", "chunk microphone job-1 0 1000ms"},
     false,
     Reader::closesMidway},
    {"EndOfInputMidRecording",
     [](Agent& a) { deliverWhileStopping(a, 4800); },
     {start("sess-1", "job-1"), meanwhile(recordSome)},
     {"status sess-1", "chunk microphone job-1 0 1000ms", "chunk microphone job-1 1 350ms",
      "chunk system job-1 0 625ms", "completed sess-1"},
     false},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace mirevo::testing
