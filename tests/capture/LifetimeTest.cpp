// Letting a session go does nothing but release it, and nothing reaches it
// afterwards: not the stream, not its queue, not its timer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CapturedOutput.hpp"
#include "SimSession.hpp"

namespace mirevo::testing {
namespace {

using platform::Error;

TEST(LifetimeTest, ReleasingARunningSessionStopsNothingFlushesNothingEmitsNothing) {
  CapturedOutput output;
  SimSession recording;
  recording.start();
  recording.deliverMicrophone(0.1f, 480, 0.0);
  recording.drain();
  output.clear();
  recording.sim.calls.clear();

  recording.capture.reset();
  EXPECT_EQ(recording.sim.calls.calls(), std::vector<std::string>{"destroyStream"});
  EXPECT_FALSE(recording.sim.capture.streamAlive());
  EXPECT_EQ(recording.sim.lastQueue(), nullptr);  // released with the session
  recording.sim.clock.advance(3.0);
  recording.drain();
  EXPECT_EQ(output.text(), "");
}

TEST(LifetimeTest, WorkAlreadyHandedToTheQueueFindsTheSessionGone) {
  CapturedOutput output;
  SimSession recording;
  recording.start();
  const auto queue = recording.sim.lastQueue();  // kept past the session
  recording.deliverMicrophone(0.1f, 480, 0.0);
  recording.deliver(platform::kOutputTypeAudio, unconvertible());
  recording.sim.clock.advance(2.0);
  const std::weak_ptr<Capture> session = recording.capture;
  recording.capture.reset();
  EXPECT_TRUE(session.expired());
  EXPECT_GT(queue->runPending(), 0u);
  EXPECT_EQ(output.text(), "");
}

TEST(LifetimeTest, AHandedOverStreamErrorKeepsTheSessionUntilItHasRun) {
  CapturedOutput output;
  SimSession recording;
  recording.start();
  recording.deliverSystem(0.1f, 480, 0.0);
  ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 2, "gone")));
  const std::weak_ptr<Capture> session = recording.capture;
  recording.capture.reset();
  ASSERT_FALSE(session.expired());

  // The failure runs, then releases the last reference from the queue's own
  // work, which ends the session, its stream and the queue itself.
  recording.drain();
  EXPECT_TRUE(session.expired());
  EXPECT_EQ(outline(output.events()),
            (std::vector<std::string>{"status", "chunk system 0 10ms", "failed"}));
  EXPECT_FALSE(recording.sim.capture.streamAlive());
}

}  // namespace
}  // namespace mirevo::testing
