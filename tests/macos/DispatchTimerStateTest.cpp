#include "platform/mac/DispatchTimerState.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirevo::platform::mac {
namespace {

struct FakeTimerSource final : TimerSource {
  void startTicking(std::uint64_t intervalNanoseconds) override {
    calls.push_back("start " + std::to_string(intervalNanoseconds));
  }
  void cancelSource() override { calls.push_back("cancel"); }
  void resumeCancelled() override { calls.push_back("resume cancelled"); }
  std::vector<std::string> calls;
};

class DispatchTimerStateTest : public ::testing::Test {
 protected:
  std::shared_ptr<std::atomic<bool>> queueOpen = std::make_shared<std::atomic<bool>>(true);
  int ticks = 0;
  DispatchTimerState state{queueOpen, 0.5, [this] { ++ticks; }};
  FakeTimerSource source;
};

TEST(DispatchTimerInterval, IsInWholeNanosecondsAndAtLeastOne) {
  struct Case {
    double seconds;
    std::uint64_t nanoseconds;
  };
  for (const Case c : {Case{0.5, 500'000'000}, Case{1.0, 1'000'000'000}, Case{1.5e-9, 2},
                       Case{1e-12, 1}, Case{0.0, 1}, Case{-1.0, 1}}) {
    EXPECT_EQ(DispatchTimerState::intervalNanoseconds(c.seconds), c.nanoseconds) << c.seconds;
  }
}

TEST_F(DispatchTimerStateTest, ResumesOnceAndFinishingCancelsOnly) {
  state.resume(source);
  state.resume(source);
  state.finish(source);
  EXPECT_EQ(source.calls, (std::vector<std::string>{"start 500000000", "cancel"}));
}

TEST_F(DispatchTimerStateTest, CancelledBeforeResumeNeverTicksAndIsResumedForRelease) {
  state.cancel(source);
  state.resume(source);
  state.cancel(source);
  state.finish(source);
  EXPECT_EQ(source.calls, (std::vector<std::string>{"cancel", "resume cancelled"}));
}

TEST_F(DispatchTimerStateTest, TicksRunTheHandlerOnlyWhileUncancelledAndTheQueueOpen) {
  const auto tick = state.tick();
  tick();
  EXPECT_EQ(ticks, 1);
  queueOpen->store(false);
  tick();
  EXPECT_EQ(ticks, 1);
  queueOpen->store(true);
  state.cancel(source);
  tick();  // a tick already on its way when cancel returned
  EXPECT_EQ(ticks, 1);
}

}  // namespace
}  // namespace mirevo::platform::mac
