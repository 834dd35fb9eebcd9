#include "platform/mac/StreamGate.hpp"

#include <gtest/gtest.h>

namespace mirevo::platform::mac {
namespace {

TEST(StreamGate, NothingPassesBeforeTheStart) {
  StreamGate gate;
  EXPECT_FALSE(gate.running());
  EXPECT_FALSE(gate.passesBuffers());
  EXPECT_FALSE(gate.takeStopReport());
  EXPECT_FALSE(gate.stopReported());
}

TEST(StreamGate, ARunningStreamPassesBuffersAndOneStopReport) {
  StreamGate gate;
  ASSERT_TRUE(gate.markStarted());
  EXPECT_TRUE(gate.running());
  EXPECT_TRUE(gate.passesBuffers());
  EXPECT_TRUE(gate.takeStopReport());
  EXPECT_FALSE(gate.takeStopReport());
  EXPECT_TRUE(gate.stopReported());
  // A second success (the system never sends one) changes nothing.
  EXPECT_FALSE(gate.markStarted());
}

TEST(StreamGate, AGivenUpStartLetsNothingThroughWhenItSucceedsLater) {
  StreamGate gate;
  ASSERT_TRUE(gate.giveUpStart());
  EXPECT_TRUE(gate.givenUp());
  EXPECT_FALSE(gate.markStarted());
  EXPECT_FALSE(gate.running());
  EXPECT_FALSE(gate.passesBuffers());
  EXPECT_FALSE(gate.takeStopReport());
}

TEST(StreamGate, AStartThatSucceededJustBeforeTheDeadlineIsNotGivenUp) {
  StreamGate gate;
  ASSERT_TRUE(gate.markStarted());
  EXPECT_FALSE(gate.giveUpStart());
  EXPECT_FALSE(gate.givenUp());
  EXPECT_TRUE(gate.running());
}

TEST(StreamGate, AfterAStopIsAskedForBuffersPassButNoStopIsReported) {
  StreamGate gate;
  ASSERT_TRUE(gate.markStarted());
  gate.markStopping();
  EXPECT_FALSE(gate.takeStopReport());
  EXPECT_TRUE(gate.passesBuffers());
  gate.markStopped();
  EXPECT_FALSE(gate.running());
  // Buffers the system queued before its stop still reach the session.
  EXPECT_TRUE(gate.passesBuffers());
}

TEST(StreamGate, AClosedGateLetsNothingThrough) {
  StreamGate gate;
  ASSERT_TRUE(gate.markStarted());
  gate.close();
  EXPECT_FALSE(gate.open());
  EXPECT_FALSE(gate.passesBuffers());
  EXPECT_FALSE(gate.takeStopReport());
  EXPECT_TRUE(gate.running());
}

}  // namespace
}  // namespace mirevo::platform::mac
