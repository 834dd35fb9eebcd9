// Recordings driven through the real command loop, over the session on the
// simulated platform, checked event by event.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "CapturedOutput.hpp"
#include "CommandInput.hpp"
#include "SimSession.hpp"
#include "control/CaptureMain.hpp"

namespace mirevo::testing {
namespace {

using platform::Error;
using sim::SimStep;

const std::vector<std::string> kArgs = {"mirevo-capture"};

int runLoop(int inputFd, sim::SimPlatform& sim) {
  return control::CaptureMain<Capture>::main(kArgs, inputFd, sim.platform());
}

void writeAll(int fd, const std::string& text) {
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

const std::string kDevices =
    R"({"devices":[{"id":"builtin-mic","isDefault":true,"kind":"audioinput","label":)"
    R"("Built-in Microphone"},{"id":"usb-3","isDefault":false,"kind":"audioinput","label":)"
    R"("USB Headset"}],"type":"devices"})";

TEST(RoadTest, OneRecordingFromTheDeviceListToCompleted) {
  CapturedOutput output;
  sim::SimPlatform sim;
  prepare(sim);
  std::promise<std::shared_ptr<sim::ManualQueue>> started;
  sim.capture.onStep(SimStep::startCapture, [&] { started.set_value(sim.lastQueue()); });

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  int status = -1;
  std::thread loop([&] { status = runLoop(pipeFds[0], sim); });
  writeAll(pipeFds[1],
           "{\"type\":\"list_devices\"}\n"
           "{\"type\":\"start\",\"sessionId\":\"sess-42\",\"jobId\":\"job-7\","
           "\"microphoneDeviceId\":\"usb-3\"}\n");

  // The loop's start hands the first tick over as its last step.
  auto startedQueue = started.get_future();
  if (startedQueue.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ::close(pipeFds[1]);  // ends the loop's input
    loop.join();
    ::close(pipeFds[0]);
    FAIL() << "the loop did not start the recording";
  }
  const auto queue = startedQueue.get();
  queue->waitForPending();
  queue->runPending();

  // One and a half seconds of microphone, a quarter second of system audio.
  const auto deliver = [&](int type, float value, std::int64_t frames, double at) {
    EXPECT_TRUE(sim.capture.deliver(type, tone(value, frames, at)));
  };
  sim.clock.setUptimeSeconds(kBootSeconds + 0.5);
  deliver(platform::kOutputTypeMicrophone, 0.125f, 24000, 0.0);
  deliver(platform::kOutputTypeAudio, 0.0625f, 12000, 0.0);
  deliver(platform::kOutputTypeMicrophone, 0.125f, 24000, 0.5);
  deliver(platform::kOutputTypeMicrophone, 0.125f, 24000, 1.0);
  queue->runPending();
  sim.clock.advance(1.0);
  queue->runPending();

  writeAll(pipeFds[1], "{\"type\":\"stop\",\"sessionId\":\"sess-42\"}\n");
  ::close(pipeFds[1]);
  loop.join();
  ::close(pipeFds[0]);
  EXPECT_EQ(status, 0);

  const auto events = output.events();
  ASSERT_EQ(outline(events), (std::vector<std::string>{
                                 "devices", "status", "chunk microphone 0 1000ms", "status",
                                 "chunk microphone 1 500ms", "chunk system 0 250ms", "completed"}));
  const auto lines = output.lines();
  EXPECT_EQ(lines[0], kDevices);
  EXPECT_EQ(lines[1],
            R"({"elapsedSeconds":0,"message":"Waiting for microphone audio. Check your input )"
            R"(device.","microphoneAudioState":"warning","microphoneLevel":0,"sessionId":)"
            R"("sess-42","state":"recording","systemAudioState":"waiting","systemLevel":0,)"
            R"("type":"status"})");
  EXPECT_EQ(lines[3],
            R"({"elapsedSeconds":1,"message":"Recording microphone and system audio.",)"
            R"("microphoneAudioState":"active","microphoneLevel":0.5,"sessionId":"sess-42",)"
            R"("state":"recording","systemAudioState":"active","systemLevel":0.25,)"
            R"("type":"status"})");
  EXPECT_EQ(lines[6], R"({"sessionId":"sess-42","type":"completed"})");

  const std::vector<std::pair<std::int64_t, std::size_t>> chunkTimes = {
      {0, 48000}, {1000, 24000}, {0, 12000}};  // startedAtMs, samples
  for (std::size_t i = 0; i < chunkTimes.size(); ++i) {
    const auto& chunk = events[2 + (i == 0 ? 0 : i + 1)];
    EXPECT_EQ(chunk.at("jobId"), "job-7");
    EXPECT_EQ(chunk.at("sampleRate"), 48000);
    EXPECT_EQ(chunk.at("channels"), 1);
    EXPECT_EQ(chunk.at("encoding"), "pcm_s16le");
    EXPECT_EQ(chunk.at("startedAtMs"), chunkTimes[i].first);
    EXPECT_EQ(chunk.at("dataBase64").get<std::string>().size(), chunkTimes[i].second * 2 / 3 * 4);
  }
  EXPECT_EQ(sim.capture.configuration()->microphoneCaptureDeviceID, "usb-3");
}

TEST(RoadTest, AFailedStartIsReportedAndCleanedUpAndTheNextStartRecords) {
  CapturedOutput output;
  sim::SimPlatform sim;
  prepare(sim);
  sim.capture.failAt(SimStep::startCapture, Error("SCStreamErrorDomain", -3805, "busy"));
  const CommandInput input(
      "{\"type\":\"start\",\"sessionId\":\"sess-1\",\"jobId\":\"job-1\"}\n"
      "{\"type\":\"start\",\"sessionId\":\"sess-2\",\"jobId\":\"job-2\"}\n"
      "{\"type\":\"start\",\"sessionId\":\"sess-3\",\"jobId\":\"job-3\"}\n"
      "{\"type\":\"start\",\"sessionId\":\"sess-4\",\"jobId\":\"job-4\","
      "\"microphoneDeviceId\":\"gone\"}\n");
  EXPECT_EQ(runLoop(input.fd(), sim), 0);
  EXPECT_EQ(output.lines(),
            (std::vector<std::string>{
                R"({"message":"busy","sessionId":"sess-1","type":"failed"})",
                R"({"sessionId":"sess-1","type":"completed"})",
                R"({"message":"Invalid start request or capture already active.","sessionId":)"
                R"("sess-3","type":"failed"})",
                R"({"message":"Invalid start request or capture already active.","sessionId":)"
                R"("sess-4","type":"failed"})",
                R"({"sessionId":"sess-2","type":"completed"})",
            }));
  EXPECT_EQ(sim.capture.streamsMade(), 2);
}

TEST(RoadTest, ARecordingThatFailedWithinStaysActiveUntilStoppedAndCompletesNothing) {
  CapturedOutput output;
  sim::SimPlatform sim;
  prepare(sim);
  bool first = true;
  // The first recording's first buffer, right after its capture started,
  // cannot be converted.
  sim.capture.onStep(SimStep::startCapture, [&] {
    if (std::exchange(first, false)) {
      EXPECT_TRUE(sim.capture.deliver(platform::kOutputTypeMicrophone, unconvertible()));
    }
  });
  const CommandInput input(
      "{\"type\":\"start\",\"sessionId\":\"sess-1\",\"jobId\":\"job-1\"}\n"
      "{\"type\":\"start\",\"sessionId\":\"sess-2\",\"jobId\":\"job-2\"}\n"
      "{\"type\":\"stop\",\"sessionId\":\"sess-1\"}\n"
      "{\"type\":\"stop\",\"sessionId\":\"sess-1\"}\n"
      "{\"type\":\"start\",\"sessionId\":\"sess-2\",\"jobId\":\"job-2\",\"microphoneDeviceId\":"
      "\"builtin-mic\"}\n");
  EXPECT_EQ(runLoop(input.fd(), sim), 0);
  EXPECT_EQ(
      output.lines(),
      (std::vector<std::string>{
          R"({"message":"Unsupported PCM sample type.","sessionId":"sess-1","type":"failed"})",
          R"({"message":"Invalid start request or capture already active.","sessionId":)"
          R"("sess-2","type":"failed"})",
          R"({"message":"No active recording session.","sessionId":"sess-1","type":"failed"})",
          R"({"sessionId":"sess-2","type":"completed"})",
      }));
}

}  // namespace
}  // namespace mirevo::testing
