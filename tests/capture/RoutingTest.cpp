#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CapturedOutput.hpp"
#include "SimSession.hpp"

namespace mirevo::testing {
namespace {

using platform::Error;

const std::string kFailedUnsupported =
    R"({"message":"Unsupported PCM sample type.","sessionId":"sess-1","type":"failed"})";

class RoutingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording.start();
    recording.drain();  // the first status
    output.clear();
  }
  CapturedOutput output;
  SimSession recording;
};

TEST_F(RoutingTest, EachSourceGoesToItsOwnAccumulatorNeverCrosswise) {
  // 10 ms of microphone, 20 ms of system audio, interleaved.
  recording.deliverSystem(0.1f, 480, 0.0);
  recording.deliverMicrophone(0.1f, 240, 0.0);
  recording.deliverSystem(0.1f, 480, 0.010);
  recording.deliverMicrophone(0.1f, 240, 0.005);
  recording.drain();
  recording.capture->stop();
  const auto events = output.events();
  EXPECT_EQ(outline(events), (std::vector<std::string>{"chunk microphone 0 10ms",
                                                       "chunk system 0 20ms", "completed"}));
  for (const auto& event : events) {
    if (event.at("type") == "audio_chunk") {
      EXPECT_EQ(event.at("jobId"), "job-7");
    }
  }
}

TEST_F(RoutingTest, BuffersOfOtherOutputTypesAreDroppedWithoutEffect) {
  for (const int type : {platform::kOutputTypeScreen, 3, -1}) {
    EXPECT_TRUE(recording.sim.capture.deliverTagged(platform::kOutputTypeAudio, type,
                                                    tone(0.5f, 480, 0.0)));
  }
  recording.drain();
  recording.sim.clock.advance(1.0);  // a tick: neither source has delivered
  recording.drain();
  recording.capture->stop();
  const auto events = output.events();
  ASSERT_EQ(outline(events), (std::vector<std::string>{"status", "completed"}));
  EXPECT_EQ(events[0].at("systemAudioState"), "waiting");
}

TEST_F(RoutingTest, AFirstBufferThatFailsToConvertGivesOnlyFailed) {
  recording.deliver(platform::kOutputTypeMicrophone, unconvertible());
  recording.drain();
  EXPECT_EQ(output.lines(), std::vector<std::string>{kFailedUnsupported});
}

TEST_F(RoutingTest, FailureFlushesMicrophoneThenSystemThenReportsOnceAndEndsEverything) {
  recording.deliverSystem(0.1f, 480, 0.0);
  recording.deliverMicrophone(0.1f, 960, 0.0);
  recording.deliver(platform::kOutputTypeAudio, unconvertible());
  // After the failure: a second conversion error, a stream error, more audio
  // of both sources and heartbeat ticks; none of it shows.
  recording.deliver(platform::kOutputTypeMicrophone, unconvertible());
  recording.deliverMicrophone(0.1f, 48000, 0.020);  // a whole second, were it routed
  recording.deliverSystem(0.1f, 48000, 0.010);
  recording.drain();
  ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 9, "gone")));
  recording.sim.clock.advance(3.0);
  recording.drain();

  const auto events = output.events();
  EXPECT_EQ(outline(events),
            (std::vector<std::string>{"chunk microphone 0 20ms", "chunk system 0 10ms", "failed"}));
  EXPECT_EQ(output.lines().back(), kFailedUnsupported);
  const auto held = recording.capture->inspect();
  EXPECT_TRUE(held.stopped);
  EXPECT_TRUE(held.stream && held.timer && held.microphone && held.system);
  EXPECT_TRUE(recording.sim.capture.capturing());  // fail leaves the stream to stop
}

TEST_F(RoutingTest, AStreamErrorWhileBuffersAreQueuedRunsAfterThem) {
  recording.deliverMicrophone(0.1f, 480, 0.0);
  recording.deliverSystem(0.1f, 960, 0.0);
  ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 9, "gone")));
  EXPECT_EQ(output.text(), "");  // the platform thread only handed the failure over
  recording.drain();
  const auto events = output.events();
  EXPECT_EQ(outline(events),
            (std::vector<std::string>{"chunk microphone 0 10ms", "chunk system 0 20ms", "failed"}));
  EXPECT_EQ(output.lines().back(), R"({"message":"gone","sessionId":"sess-1","type":"failed"})");
}

TEST_F(RoutingTest, AConversionFailureThenAStreamErrorGiveOneFailed) {
  recording.deliver(platform::kOutputTypeAudio, unconvertible());
  recording.drain();
  ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 9, "gone")));
  recording.drain();
  EXPECT_EQ(output.lines(), std::vector<std::string>{kFailedUnsupported});
}

TEST_F(RoutingTest, AStreamErrorAfterTheFinalStepOfStopEmitsNothing) {
  recording.capture->stop();
  output.clear();
  // The platform reports late, past the stream's teardown.
  recording.capture->didStopWithError(Error("SCStreamErrorDomain", 9, "late"));
  recording.drain();
  EXPECT_EQ(output.text(), "");
}

}  // namespace
}  // namespace mirevo::testing
