#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CapturedOutput.hpp"
#include "SimSession.hpp"

namespace mirevo::testing {
namespace {

const std::string kRecording = "Recording microphone and system audio.";
const std::string kWaiting = "Waiting for microphone audio. Check your input device.";

struct SourceAge {
  std::optional<double> microphone;  // seconds since its last buffer; none: never delivered
  std::optional<double> system;
};

struct HeartbeatRow {
  std::string name;
  SourceAge age;
  std::string microphoneState;
  std::string systemState;
  bool microphoneLevel;  // the level, or the integer 0
  bool systemLevel;
  std::string message;
};

const std::vector<HeartbeatRow> kDecisionTable = {
    {"both delivering", {0.5, 1.0}, "active", "active", true, true, kRecording},
    {"microphone only", {0.5, std::nullopt}, "active", "waiting", true, false, kRecording},
    {"system only", {std::nullopt, 2.0}, "warning", "active", false, true, kWaiting},
    {"neither ever", {std::nullopt, std::nullopt}, "warning", "waiting", false, false, kWaiting},
    {"2.9 s old is active", {2.9, 2.9}, "active", "active", true, true, kRecording},
    {"3.0 s old is inactive", {3.0, 3.0}, "warning", "waiting", false, false, kWaiting},
    {"microphone stale, system fresh", {7.0, 0.0}, "warning", "active", false, true, kWaiting},
};

// One status event, from a session whose sources last delivered `age` ago.
nlohmann::json statusFor(const SourceAge& age) {
  CapturedOutput output;
  SimSession recording;
  recording.start();
  recording.drain();  // the first tick
  // Levels 0.5 and 0.25: a quarter and an eighth of full scale.
  const double newest = std::max(age.microphone.value_or(0.0), age.system.value_or(0.0));
  const double deliveredAt = kBootSeconds + 10.0;
  if (age.microphone) {
    recording.sim.clock.setUptimeSeconds(deliveredAt + newest - *age.microphone);
    recording.deliverMicrophone(0.125f, 480, 0.0);
    recording.drain();
  }
  if (age.system) {
    recording.sim.clock.setUptimeSeconds(deliveredAt + newest - *age.system);
    recording.deliverSystem(0.0625f, 480, 0.0);
    recording.drain();
  }
  output.clear();
  recording.sim.clock.advance(1.0);
  recording.sim.clock.setUptimeSeconds(deliveredAt + newest);
  recording.drain();
  const auto events = output.events();
  EXPECT_EQ(events.size(), 1u);
  return events.empty() ? nlohmann::json() : events.front();
}

TEST(HeartbeatTest, FollowsTheWholeDecisionTable) {
  for (const auto& row : kDecisionTable) {
    SCOPED_TRACE(row.name);
    const auto status = statusFor(row.age);
    EXPECT_EQ(status.at("type"), "status");
    EXPECT_EQ(status.at("state"), "recording");
    EXPECT_EQ(status.at("sessionId"), "sess-1");
    EXPECT_EQ(status.at("microphoneAudioState"), row.microphoneState);
    EXPECT_EQ(status.at("systemAudioState"), row.systemState);
    EXPECT_EQ(status.at("message"), row.message);
    const auto expectLevel = [](const nlohmann::json& level, bool active, double value) {
      if (active) {
        EXPECT_TRUE(level.is_number_float());
        EXPECT_DOUBLE_EQ(level.get<double>(), value);
      } else {
        EXPECT_TRUE(level.is_number_integer());
        EXPECT_EQ(level.get<std::int64_t>(), 0);
      }
    };
    expectLevel(status.at("microphoneLevel"), row.microphoneLevel, 0.5);
    expectLevel(status.at("systemLevel"), row.systemLevel, 0.25);
  }
}

TEST(HeartbeatTest, ElapsedSecondsAreWholeAndNeverNegative) {
  const std::vector<std::pair<double, std::int64_t>> rows = {
      {0.0, 0}, {0.999, 0}, {1.0, 1}, {59.9, 59}, {-5.0, 0}, {3600.5, 3600}};
  for (const auto& [sinceOrigin, expected] : rows) {
    SCOPED_TRACE(sinceOrigin);
    CapturedOutput output;
    SimSession recording;
    recording.start();
    recording.sim.clock.setHostSeconds(kOriginSeconds + sinceOrigin);
    recording.drain();
    const auto events = output.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].at("elapsedSeconds").is_number_integer());
    EXPECT_EQ(events[0].at("elapsedSeconds").get<std::int64_t>(), expected);
  }
}

TEST(HeartbeatTest, AnInactiveTickIsWrittenExactly) {
  CapturedOutput output;
  SimSession recording;
  recording.start();
  recording.sim.clock.setHostSeconds(kOriginSeconds + 3.2);
  recording.drain();
  EXPECT_EQ(output.lines(),
            std::vector<std::string>{
                R"({"elapsedSeconds":3,"message":"Waiting for microphone audio. Check your input )"
                R"(device.","microphoneAudioState":"warning","microphoneLevel":0,"sessionId":)"
                R"("sess-1","state":"recording","systemAudioState":"waiting","systemLevel":0,)"
                R"("type":"status"})"});
}

TEST(HeartbeatTest, NothingAfterTheSessionHasStopped) {
  CapturedOutput output;
  SimSession recording;
  recording.start();
  recording.sim.clock.advance(2.0);  // ticks queued but not yet run
  recording.capture->stop();         // runs them before its final step
  recording.sim.clock.advance(5.0);
  recording.drain();
  EXPECT_EQ(output.types(), std::vector<std::string>{"completed"});
}

TEST(HeartbeatTest, NothingAfterTheSessionIsGoneThoughItsTimerStillFires) {
  CapturedOutput output;
  SimSession recording;
  recording.start();
  const auto queue = recording.sim.lastQueue();  // outlives the session here
  const std::weak_ptr<Capture> session = recording.capture;
  recording.capture.reset();
  EXPECT_TRUE(session.expired());  // the timer does not keep it alive
  recording.sim.clock.advance(3.0);
  queue->runPending();
  EXPECT_EQ(output.text(), "");
}

}  // namespace
}  // namespace mirevo::testing
