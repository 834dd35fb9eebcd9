#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CapturedOutput.hpp"
#include "SimSession.hpp"

namespace mirevo::testing {
namespace {

using platform::Error;
using sim::SimStep;

const Error kRefused("SCStreamErrorDomain", -3808, "The stream could not be stopped.");

// A running session with 10 ms of microphone and 20 ms of system audio
// gathered, its first status already out.
class StopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording.start();
    recording.deliverMicrophone(0.1f, 480, 0.0);
    recording.deliverSystem(0.1f, 960, 0.0);
    recording.drain();
    output.clear();
    recording.sim.calls.clear();
  }

  void expectStopRefused() {
    try {
      recording.capture->stop();
      ADD_FAILURE() << "stop succeeded";
    } catch (const Error& error) {
      EXPECT_EQ(error.domain(), kRefused.domain());
      EXPECT_EQ(error.code(), kRefused.code());
      EXPECT_EQ(error.localizedDescription(), kRefused.localizedDescription());
    }
  }

  void failFromTheStream() {
    ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 5, "lost")));
    recording.drain();
  }

  std::vector<std::string> stopCalls() const {
    std::vector<std::string> calls;
    for (const auto& call : recording.sim.calls.calls()) {
      if (call == "stopCapture" || call == "destroyStream") calls.push_back(call);
    }
    return calls;
  }

  CapturedOutput output;
  SimSession recording;
};

const std::vector<std::string> kLastChunksAndCompleted = {"chunk microphone 0 10ms",
                                                          "chunk system 0 20ms", "completed"};
const std::vector<std::string> kLastChunksAndFailed = {"chunk microphone 0 10ms",
                                                       "chunk system 0 20ms", "failed"};

TEST_F(StopTest, RunningToStopped) {
  recording.capture->stop();
  EXPECT_EQ(outline(output.events()), kLastChunksAndCompleted);
  EXPECT_EQ(output.lines().back(), R"({"sessionId":"sess-1","type":"completed"})");
  EXPECT_EQ(stopCalls(), (std::vector<std::string>{"stopCapture", "destroyStream"}));
  const auto held = recording.capture->inspect();
  EXPECT_TRUE(held.stopped);
  EXPECT_FALSE(held.stream);
  EXPECT_TRUE(held.timer);  // cancelled, kept
}

TEST_F(StopTest, StoppedStaysStoppedAndAnotherStopDoesNothing) {
  recording.capture->stop();
  output.clear();
  recording.sim.calls.clear();
  recording.capture->stop();
  recording.sim.clock.advance(2.0);
  recording.drain();
  EXPECT_EQ(output.text(), "");
  EXPECT_TRUE(stopCalls().empty());  // no stream left to stop
}

TEST_F(StopTest, RefusedStopEmitsNothingKeepsRoutingAndALaterStopCompletes) {
  recording.sim.capture.failAt(SimStep::stopCapture, kRefused);
  expectStopRefused();
  EXPECT_EQ(output.text(), "");
  auto held = recording.capture->inspect();
  EXPECT_FALSE(held.stopped);
  EXPECT_TRUE(held.stream);

  // Stop refused: buffers are still routed, the heartbeat is gone.
  recording.deliverMicrophone(0.1f, 480, 0.010);
  recording.sim.clock.advance(2.0);
  recording.drain();
  EXPECT_EQ(output.text(), "");

  recording.capture->stop();
  EXPECT_EQ(
      outline(output.events()),
      (std::vector<std::string>{"chunk microphone 0 20ms", "chunk system 0 20ms", "completed"}));
  EXPECT_EQ(stopCalls(), (std::vector<std::string>{"stopCapture", "stopCapture", "destroyStream"}));
}

TEST_F(StopTest, RefusedAgainStaysRefused) {
  recording.sim.capture.failAt(SimStep::stopCapture, kRefused, /*everyTime=*/true);
  expectStopRefused();
  expectStopRefused();
  EXPECT_EQ(output.text(), "");
  EXPECT_FALSE(recording.capture->inspect().stopped);
  EXPECT_TRUE(recording.sim.capture.streamAlive());
}

TEST_F(StopTest, RefusedThenFailedFromWithin) {
  recording.sim.capture.failAt(SimStep::stopCapture, kRefused);
  expectStopRefused();
  failFromTheStream();
  EXPECT_EQ(outline(output.events()), kLastChunksAndFailed);
}

TEST_F(StopTest, FailedThenStoppedEmitsNothingMore) {
  failFromTheStream();
  output.clear();
  recording.capture->stop();
  EXPECT_EQ(output.text(), "");
  EXPECT_EQ(stopCalls(), (std::vector<std::string>{"stopCapture", "destroyStream"}));
  EXPECT_FALSE(recording.capture->inspect().stream);
}

TEST_F(StopTest, FailedThenStopRefusedStaysFailed) {
  failFromTheStream();
  output.clear();
  recording.sim.capture.failAt(SimStep::stopCapture, kRefused);
  expectStopRefused();
  EXPECT_EQ(output.text(), "");
  const auto held = recording.capture->inspect();
  EXPECT_TRUE(held.stopped);
  EXPECT_TRUE(held.stream);
}

TEST_F(StopTest, AStreamErrorThatReachesTheQueueBeforeTheFinalStepWins) {
  recording.sim.capture.onStep(SimStep::stopCapture, [this] {
    ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 5, "lost")));
  });
  recording.capture->stop();  // completes normally
  EXPECT_EQ(outline(output.events()), kLastChunksAndFailed);
}

TEST_F(StopTest, AudioDeliveredWhileStoppingGoesOutBeforeCompleted) {
  recording.sim.capture.onStep(SimStep::stopCapture, [this] {
    recording.deliverSystem(0.1f, 960, 0.020);
    recording.deliverMicrophone(0.1f, 48000 - 480, 0.010);  // completes a whole second
    recording.deliverMicrophone(0.1f, 240, 1.0);
  });
  recording.capture->stop();
  EXPECT_EQ(outline(output.events()),
            (std::vector<std::string>{"chunk microphone 0 1000ms", "chunk microphone 1 5ms",
                                      "chunk system 0 40ms", "completed"}));
}

// A session that never got to record still answers stop with `completed`,
// and stops a stream it kept.
struct StopBeforeStartCase {
  const char* name;
  std::function<void(SimSession&)> before;  // what happened instead of a start
  bool stopsCapture;                        // a stream was kept, so stop stops it
};

const StopBeforeStartCase kStopsBeforeStart[] = {
    {.name = "never started", .before = [](SimSession&) {}, .stopsCapture = false},
    {.name = "start kept no stream",
     .before =
         [](SimSession& recording) {
           recording.sim.capture.setMicrophoneAccess(false);
           EXPECT_THROW(recording.start(), Error);
         },
     .stopsCapture = false},
    {.name = "capture refused to start",
     .before =
         [](SimSession& recording) {
           recording.sim.capture.failAt(SimStep::startCapture,
                                        Error("SCStreamErrorDomain", 1, "no"));
           EXPECT_THROW(recording.start(), Error);
         },
     .stopsCapture = true},
};

TEST(StopBeforeStartTest, CompletesAndStopsOnlyAKeptStream) {
  for (const auto& row : kStopsBeforeStart) {
    SCOPED_TRACE(row.name);
    CapturedOutput output;
    SimSession recording;
    row.before(recording);
    recording.capture->stop();
    EXPECT_EQ(output.lines(),
              std::vector<std::string>{R"({"sessionId":"sess-1","type":"completed"})"});
    EXPECT_EQ(recording.sim.calls.contains("stopCapture"), row.stopsCapture);
    EXPECT_FALSE(recording.sim.capture.streamAlive());
  }
}

}  // namespace
}  // namespace mirevo::testing
