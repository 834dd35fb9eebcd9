// The built agent on a real Mac, driven as the parent drives it: --self-test,
// the microphone list through AVFoundation, and a short recording of both
// sources when this Mac can record. What stands in the way without any fault
// of ours skips the recording with its reason rather than failing it: a
// permission not granted (macOS credits the agent's requests to the app that
// started the test run, Terminal or the CI runner, and only a person can
// grant them), no active display, no audio input device. Anything else that
// goes wrong fails.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AgentProcess.hpp"
#include "MacMachine.hpp"
#include "RecordingPermissions.hpp"

namespace {

using mirevo::testing::AgentLaunch;
using mirevo::testing::AgentProcess;
using nlohmann::json;
constexpr auto kTimeout = std::chrono::seconds(20);

const char* const kMicrophoneRefused =
    "Allow Mirevo microphone access in System Settings → Privacy & Security → Microphone, then "
    "restart Mirevo.";

const char* const kNoDisplay = "An active macOS display is required for system audio capture.";

// Why this Mac cannot record without a fault of ours, in one line; nothing
// when it can. Asked without a prompt: a prompt that nobody answers would
// stall the test.
std::optional<std::string> whyNoRecording() {
  if (auto missing = mirevo::testing::missingRecordingPermission()) return missing;
  if (mirevo::testing::activeDisplays().empty()) {
    return "this Mac has no active display, and system audio is captured over one";
  }
  if (!mirevo::testing::hasAudioInput()) return "this Mac has no audio input device";
  return std::nullopt;
}

TEST(MacAgent, SelfTestDescribesTheMacBuild) {
  AgentLaunch launch;
  launch.argv = {MIREVO_SHIPPED_AGENT_PATH, "--self-test"};
  AgentProcess agent(MIREVO_SHIPPED_AGENT_PATH, launch);
  ASSERT_TRUE(agent.started());
  EXPECT_EQ(agent.waitForExit(kTimeout), std::optional<int>(0));
  EXPECT_EQ(agent.output(),
            R"({"minimumMacOS":"15.0","platform":"darwin","protocolVersion":1,"type":"self_test"})"
            "\n");
  EXPECT_EQ(agent.standardError(), "");
}

TEST(MacAgent, ListsMicrophonesThroughAVFoundation) {
  AgentProcess agent(MIREVO_SHIPPED_AGENT_PATH);
  ASSERT_TRUE(agent.started());
  agent.send({{"type", "list_devices"}});
  const auto devices = agent.next(kTimeout);
  ASSERT_TRUE(devices) << agent.output();
  ASSERT_EQ(devices->value("type", ""), "devices") << devices->dump();
  int defaults = 0;
  for (const json& device : devices->at("devices")) {
    EXPECT_EQ(device.value("kind", ""), "audioinput") << device.dump();
    EXPECT_FALSE(device.value("id", "").empty()) << device.dump();
    if (device.value("isDefault", false)) ++defaults;
  }
  EXPECT_LE(defaults, 1) << devices->dump();
  EXPECT_EQ(agent.finish(kTimeout), std::optional<int>(0));
  if (devices->at("devices").empty()) GTEST_SKIP() << "this Mac has no microphone to list";
}

TEST(MacAgent, RecordsBothSourcesAndCompletes) {
  if (const auto reason = whyNoRecording()) GTEST_SKIP() << *reason;
  AgentProcess agent(MIREVO_SHIPPED_AGENT_PATH);
  ASSERT_TRUE(agent.started());
  agent.send({{"type", "start"}, {"sessionId", "mac-test"}, {"jobId", "job-1"}});
  // Two chunks of each source: the second shows that the sequence goes on.
  std::map<std::string, std::vector<std::int64_t>> sequences;
  const auto failedOrEnough = [&](const json& event) {
    if (event.value("type", "") == "failed") return true;
    if (event.value("type", "") == "audio_chunk") {
      sequences[event.value("source", "")].push_back(event.value("sequence", std::int64_t{-1}));
    }
    return sequences["microphone"].size() >= 2 && sequences["system"].size() >= 2;
  };
  const auto last = agent.until(failedOrEnough, std::chrono::seconds(30));
  ASSERT_TRUE(last) << "no chunks of both sources within 30 s:\n" << agent.output();
  if (last->value("type", "") == "failed") {
    // The display or the permission may have gone since they were asked for.
    const std::string message = last->value("message", "");
    if (message == kMicrophoneRefused) GTEST_SKIP() << "the Mac refused the microphone";
    if (message == kNoDisplay) GTEST_SKIP() << "the Mac has no active display any more";
    FAIL() << "the recording failed: " << agent.output();
  }
  agent.send({{"type", "stop"}, {"sessionId", "mac-test"}});
  const auto completed = agent.until(
      [&](const json& event) {
        failedOrEnough(event);
        return event.value("type", "") == "completed" || event.value("type", "") == "failed";
      },
      kTimeout);
  ASSERT_TRUE(completed) << agent.output();
  EXPECT_EQ(completed->value("type", ""), "completed") << completed->dump();
  EXPECT_EQ(completed->value("sessionId", ""), "mac-test");
  for (const auto& [source, numbers] : sequences) {
    for (std::size_t i = 1; i < numbers.size(); ++i) {
      EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << source << " chunk " << i;
    }
  }
  EXPECT_EQ(agent.finish(kTimeout), std::optional<int>(0));
  EXPECT_EQ(agent.standardError(), "");
}

}  // namespace
