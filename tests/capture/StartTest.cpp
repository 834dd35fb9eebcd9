#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CapturedOutput.hpp"
#include "SimSession.hpp"
#include "capture/CaptureErrors.hpp"

namespace mirevo::testing {
namespace {

using platform::Error;
using sim::SimStep;

const std::string kPermission =
    "Allow Mirevo microphone access in System Settings → Privacy & Security → Microphone, then "
    "restart Mirevo.";
const std::string kNoDisplay = "An active macOS display is required for system audio capture.";
const std::string kMicrophoneGone = "The selected microphone is no longer available.";

struct StartFailure {
  std::string name;
  std::function<void(sim::SimPlatform&)> script;
  std::optional<std::string> device;
  std::string domain;
  std::int64_t code;
  std::string message;
  std::vector<std::string> calls;
  bool accumulators = false;  // what the failed start leaves behind
  bool stream = false;
};

// Each row also breaks every later check, so the first failure has to win.
const std::vector<StartFailure> kStartFailures = {
    {.name = "permission refused, even with no display and a missing microphone",
     .script =
         [](sim::SimPlatform& sim) {
           sim.capture.setMicrophoneAccess(false);
           sim.capture.setDisplays({});
         },
     .device = "gone",
     .domain = "MirevoCapture",
     .code = 1,
     .message = kPermission,
     .calls = {"requestMicrophoneAccess"},
     .accumulators = false,
     .stream = false},
    {.name = "shareable content refused, passed on unchanged",
     .script =
         [](sim::SimPlatform& sim) {
           sim.capture.failAt(SimStep::shareableContent,
                              Error("SCStreamErrorDomain", -3801, "denied"));
           sim.capture.setDisplays({});
         },
     .device = "gone",
     .domain = "SCStreamErrorDomain",
     .code = -3801,
     .message = "denied",
     .calls = {"requestMicrophoneAccess", "shareableContent"},
     .accumulators = false,
     .stream = false},
    {.name = "no display, even with a missing microphone",
     .script = [](sim::SimPlatform& sim) { sim.capture.setDisplays({}); },
     .device = "gone",
     .domain = "MirevoCapture",
     .code = 2,
     .message = kNoDisplay,
     .calls = {"requestMicrophoneAccess", "shareableContent"},
     .accumulators = false,
     .stream = false},
    {.name = "requested microphone not listed",
     .script = [](sim::SimPlatform&) {},
     .device = "gone",
     .domain = "MirevoCapture",
     .code = 3,
     .message = kMicrophoneGone,
     .calls = {"requestMicrophoneAccess", "shareableContent", "defaultAudioDevice",
               "discoverAudioDevices"},
     .accumulators = false,
     .stream = false},
    {.name = "an empty identifier is a request too",
     .script = [](sim::SimPlatform&) {},
     .device = "",
     .domain = "MirevoCapture",
     .code = 3,
     .message = kMicrophoneGone,
     .calls = {"requestMicrophoneAccess", "shareableContent", "defaultAudioDevice",
               "discoverAudioDevices"},
     .accumulators = false,
     .stream = false},
    {.name = "any identifier while no device is listed",
     .script = [](sim::SimPlatform& sim) { sim.devices.setDevices({}); },
     .device = "builtin-mic",
     .domain = "MirevoCapture",
     .code = 3,
     .message = kMicrophoneGone,
     .calls = {"requestMicrophoneAccess", "shareableContent", "defaultAudioDevice",
               "discoverAudioDevices"},
     .accumulators = false,
     .stream = false},
    {.name = "system audio output refused",
     .script =
         [](sim::SimPlatform& sim) {
           sim.capture.failAt(SimStep::addAudioOutput,
                              Error("SCStreamErrorDomain", -3802, "audio"));
           sim.capture.failAt(SimStep::startCapture, Error("SCStreamErrorDomain", -3803, "start"));
         },
     .device = std::nullopt,
     .domain = "SCStreamErrorDomain",
     .code = -3802,
     .message = "audio",
     .calls = {"requestMicrophoneAccess", "shareableContent", "makeStream", "addStreamOutput 1",
               "destroyStream"},
     .accumulators = true,
     .stream = false},
    {.name = "microphone output refused",
     .script =
         [](sim::SimPlatform& sim) {
           sim.capture.failAt(SimStep::addMicrophoneOutput,
                              Error("SCStreamErrorDomain", -3804, "mic"));
         },
     .device = std::nullopt,
     .domain = "SCStreamErrorDomain",
     .code = -3804,
     .message = "mic",
     .calls = {"requestMicrophoneAccess", "shareableContent", "makeStream", "addStreamOutput 1",
               "addStreamOutput 2", "destroyStream"},
     .accumulators = true,
     .stream = false},
    {.name = "capture refused to start",
     .script =
         [](sim::SimPlatform& sim) {
           sim.capture.failAt(SimStep::startCapture, Error("SCStreamErrorDomain", -3805, "start"));
         },
     .device = std::nullopt,
     .domain = "SCStreamErrorDomain",
     .code = -3805,
     .message = "start",
     .calls = {"requestMicrophoneAccess", "shareableContent", "makeStream", "addStreamOutput 1",
               "addStreamOutput 2", "startCapture"},
     .accumulators = true,
     .stream = true},
};

TEST(StartSequenceTest, FirstFailureWinsAndLeavesExactlyWhatWasMade) {
  for (const auto& row : kStartFailures) {
    SCOPED_TRACE(row.name);
    CapturedOutput output;
    SimSession recording;
    row.script(recording.sim);
    try {
      recording.start(row.device);
      ADD_FAILURE() << "start succeeded";
    } catch (const Error& error) {
      EXPECT_EQ(error.domain(), row.domain);
      EXPECT_EQ(error.code(), row.code);
      EXPECT_EQ(error.localizedDescription(), row.message);
    }
    EXPECT_EQ(recording.sim.calls.calls(), row.calls);
    recording.drain();
    EXPECT_EQ(output.text(), "");

    const auto held = recording.capture->inspect();
    EXPECT_EQ(held.origin, row.accumulators ? kOriginSeconds : 0.0);
    EXPECT_EQ(held.microphone, row.accumulators);
    EXPECT_EQ(held.system, row.accumulators);
    EXPECT_EQ(held.stream, row.stream);
    EXPECT_EQ(recording.sim.capture.streamAlive(), row.stream);
    EXPECT_FALSE(held.timer);
    EXPECT_FALSE(held.stopped);
  }
}

TEST(StartSequenceTest, ErrorsOfItsOwnDomainCarryTheFixedTexts) {
  using capture::CaptureErrorCode;
  const std::vector<std::pair<CaptureErrorCode, std::string>> rows = {
      {CaptureErrorCode::microphoneAccessDenied, kPermission},
      {CaptureErrorCode::noDisplay, kNoDisplay},
      {CaptureErrorCode::microphoneUnavailable, kMicrophoneGone},
  };
  for (const auto& [code, text] : rows) {
    const Error error = capture::captureError(code);
    EXPECT_EQ(error.domain(), "MirevoCapture");
    EXPECT_EQ(error.code(), static_cast<std::int64_t>(code));
    EXPECT_EQ(error.localizedDescription(), text);
  }
}

class StartedSessionTest : public ::testing::Test {
 protected:
  CapturedOutput output;
  SimSession recording;
};

TEST_F(StartedSessionTest, StartsInOrderWithTheFullConfigurationAndEmitsNothingItself) {
  recording.sim.capture.setDisplays(
      {{"first", "First", "first.monitor"}, {"second", "Second", "second.monitor"}});
  recording.start("usb-3");  // listed, though not the default

  EXPECT_EQ(recording.sim.calls.calls(),
            (std::vector<std::string>{"requestMicrophoneAccess", "shareableContent",
                                      "defaultAudioDevice", "discoverAudioDevices", "makeStream",
                                      "addStreamOutput 1", "addStreamOutput 2", "startCapture"}));
  const auto configuration = recording.sim.capture.configuration();
  ASSERT_TRUE(configuration);
  EXPECT_TRUE(configuration->capturesAudio);
  EXPECT_TRUE(configuration->captureMicrophone);
  EXPECT_EQ(configuration->microphoneCaptureDeviceID, "usb-3");
  EXPECT_TRUE(configuration->excludesCurrentProcessAudio);
  EXPECT_EQ(configuration->sampleRate, 48000);
  EXPECT_EQ(configuration->channelCount, 1);
  EXPECT_EQ(configuration->width, 2);
  EXPECT_EQ(configuration->height, 2);
  EXPECT_EQ(configuration->minimumFrameInterval.value, 1);
  EXPECT_EQ(configuration->minimumFrameInterval.timescale, 1);
  EXPECT_FALSE(configuration->showsCursor);

  const auto filter = recording.sim.capture.filter();
  ASSERT_TRUE(filter);
  EXPECT_EQ(filter->display.id, "first");
  EXPECT_TRUE(filter->excludingApplications.empty());
  EXPECT_TRUE(filter->exceptingWindows.empty());
  EXPECT_EQ(recording.sim.capture.registeredOutputTypes(),
            (std::vector<int>{platform::kOutputTypeAudio, platform::kOutputTypeMicrophone}));

  EXPECT_EQ(output.text(), "");
  const auto held = recording.capture->inspect();
  EXPECT_EQ(held.origin, kOriginSeconds);
  EXPECT_TRUE(held.microphone && held.system && held.stream && held.timer);
  EXPECT_FALSE(held.stopped);
}

TEST_F(StartedSessionTest, WithoutARequestedMicrophoneNoDeviceIsCheckedOrConfigured) {
  recording.sim.devices.setDevices({});
  recording.start(std::nullopt);
  EXPECT_FALSE(recording.sim.calls.contains("discoverAudioDevices"));
  EXPECT_FALSE(recording.sim.calls.contains("defaultAudioDevice"));
  ASSERT_TRUE(recording.sim.capture.configuration());
  EXPECT_FALSE(recording.sim.capture.configuration()->microphoneCaptureDeviceID.has_value());
}

TEST_F(StartedSessionTest, FirstStatusFollowsAtOnceAndTheNextOneSecondLater) {
  recording.start();
  recording.drain();
  EXPECT_EQ(output.types(), std::vector<std::string>{"status"});
  recording.sim.clock.advance(0.999);
  recording.drain();
  EXPECT_EQ(output.types().size(), 1u);
  recording.sim.clock.advance(0.001);
  recording.drain();
  EXPECT_EQ(output.types(), (std::vector<std::string>{"status", "status"}));
}

TEST_F(StartedSessionTest, TheSessionIsTheStreamsDelegate) {
  recording.start();
  recording.drain();
  output.clear();
  ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 1, "lost")));
  recording.drain();
  EXPECT_EQ(output.lines(),
            std::vector<std::string>{R"({"message":"lost","sessionId":"sess-1","type":"failed"})"});
}

}  // namespace
}  // namespace mirevo::testing
