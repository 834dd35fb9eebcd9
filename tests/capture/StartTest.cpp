#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CapturedOutput.hpp"
#include "Recording.hpp"
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
  bool accumulators;  // what the failed start leaves behind
  bool stream;
};

// Each row also breaks every later check, so the first failure has to win.
const std::vector<StartFailure> kStartFailures = {
    {"permission refused, even with no display and a missing microphone",
     [](sim::SimPlatform& sim) {
       sim.capture.setMicrophoneAccess(false);
       sim.capture.setDisplays({});
     },
     "gone",
     "MirevoCapture",
     1,
     kPermission,
     {"requestMicrophoneAccess"},
     false,
     false},
    {"shareable content refused, passed on unchanged",
     [](sim::SimPlatform& sim) {
       sim.capture.failAt(SimStep::shareableContent, Error("SCStreamErrorDomain", -3801, "denied"));
       sim.capture.setDisplays({});
     },
     "gone",
     "SCStreamErrorDomain",
     -3801,
     "denied",
     {"requestMicrophoneAccess", "shareableContent"},
     false,
     false},
    {"no display, even with a missing microphone",
     [](sim::SimPlatform& sim) { sim.capture.setDisplays({}); },
     "gone",
     "MirevoCapture",
     2,
     kNoDisplay,
     {"requestMicrophoneAccess", "shareableContent"},
     false,
     false},
    {"requested microphone not listed",
     [](sim::SimPlatform&) {},
     "gone",
     "MirevoCapture",
     3,
     kMicrophoneGone,
     {"requestMicrophoneAccess", "shareableContent", "defaultAudioDevice", "discoverAudioDevices"},
     false,
     false},
    {"an empty identifier is a request too",
     [](sim::SimPlatform&) {},
     "",
     "MirevoCapture",
     3,
     kMicrophoneGone,
     {"requestMicrophoneAccess", "shareableContent", "defaultAudioDevice", "discoverAudioDevices"},
     false,
     false},
    {"any identifier while no device is listed",
     [](sim::SimPlatform& sim) { sim.devices.setDevices({}); },
     "builtin-mic",
     "MirevoCapture",
     3,
     kMicrophoneGone,
     {"requestMicrophoneAccess", "shareableContent", "defaultAudioDevice", "discoverAudioDevices"},
     false,
     false},
    {"system audio output refused",
     [](sim::SimPlatform& sim) {
       sim.capture.failAt(SimStep::addAudioOutput, Error("SCStreamErrorDomain", -3802, "audio"));
       sim.capture.failAt(SimStep::startCapture, Error("SCStreamErrorDomain", -3803, "start"));
     },
     std::nullopt,
     "SCStreamErrorDomain",
     -3802,
     "audio",
     {"requestMicrophoneAccess", "shareableContent", "makeStream", "addStreamOutput 1",
      "destroyStream"},
     true,
     false},
    {"microphone output refused",
     [](sim::SimPlatform& sim) {
       sim.capture.failAt(SimStep::addMicrophoneOutput, Error("SCStreamErrorDomain", -3804, "mic"));
     },
     std::nullopt,
     "SCStreamErrorDomain",
     -3804,
     "mic",
     {"requestMicrophoneAccess", "shareableContent", "makeStream", "addStreamOutput 1",
      "addStreamOutput 2", "destroyStream"},
     true,
     false},
    {"capture refused to start",
     [](sim::SimPlatform& sim) {
       sim.capture.failAt(SimStep::startCapture, Error("SCStreamErrorDomain", -3805, "start"));
     },
     std::nullopt,
     "SCStreamErrorDomain",
     -3805,
     "start",
     {"requestMicrophoneAccess", "shareableContent", "makeStream", "addStreamOutput 1",
      "addStreamOutput 2", "startCapture"},
     true,
     true},
};

TEST(StartSequenceTest, FirstFailureWinsAndLeavesExactlyWhatWasMade) {
  for (const auto& row : kStartFailures) {
    SCOPED_TRACE(row.name);
    CapturedOutput output;
    Recording recording;
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
  Recording recording;
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
