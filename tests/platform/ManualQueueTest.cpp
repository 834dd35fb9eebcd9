#include "platform/sim/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/SimClock.hpp"

namespace mirevo::platform::sim {
namespace {

class ManualQueueTest : public ::testing::Test {
 protected:
  SimClock clock;
  ManualQueue queue{clock};
  std::vector<std::string> ran;
  std::function<void()> record(std::string name) {
    return [this, name] { ran.push_back(name); };
  }
};

TEST_F(ManualQueueTest, AsyncWorkWaitsForTheTestToDrainAndRunsInOrder) {
  queue.async(record("a"));
  queue.async([this] {
    ran.push_back("b");
    queue.async(record("queued while draining"));
  });
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(queue.pendingCount(), 2u);
  EXPECT_EQ(queue.runPending(), 3u);
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "queued while draining"}));
  EXPECT_EQ(queue.runPending(), 0u);
}

TEST_F(ManualQueueTest, SyncRunsEverythingQueuedBeforeItThenItsWork) {
  queue.async(record("first"));
  queue.sync([this] {
    ran.push_back("sync");
    queue.sync(record("nested sync runs in place"));
  });
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "sync", "nested sync runs in place"}));
}

TEST_F(ManualQueueTest, DestroyingDiscardsQueuedWork) {
  auto doomed = std::make_unique<ManualQueue>(clock);
  doomed->async(record("never"));
  doomed.reset();
  EXPECT_TRUE(ran.empty());
}

TEST_F(ManualQueueTest, TimerTicksAtOnceThenCatchesUpEveryIntervalThatFellDue) {
  int ticks = 0;
  auto timer = queue.makeTimer(1.0, [&] { ++ticks; });
  timer->resume();
  EXPECT_EQ(queue.runPending(), 1u);
  EXPECT_EQ(ticks, 1);

  clock.advance(3.5);  // due at 1, 2 and 3
  EXPECT_EQ(queue.runPending(), 3u);
  EXPECT_EQ(ticks, 4);

  clock.advance(0.5);  // due at 4
  queue.runPending();
  EXPECT_EQ(ticks, 5);

  clock.advance(0.99);
  EXPECT_EQ(queue.runPending(), 0u);
}

TEST_F(ManualQueueTest, CancelledTimerStopsTickingAndItsQueuedTickDoesNotRun) {
  int ticks = 0;
  auto timer = queue.makeTimer(1.0, [&] { ++ticks; });
  timer->resume();
  clock.advance(2.0);
  timer->cancel();
  queue.runPending();
  clock.advance(5.0);
  queue.runPending();
  EXPECT_EQ(ticks, 0);
}

TEST_F(ManualQueueTest, TicksOfSeveralTimersComeInTimeOrder) {
  auto slow = queue.makeTimer(1.0, record("slow"));
  auto fast = queue.makeTimer(0.4, record("fast"));
  slow->resume();
  fast->resume();
  queue.runPending();
  ran.clear();
  clock.advance(1.25);
  queue.runPending();
  EXPECT_EQ(ran, (std::vector<std::string>{"fast", "fast", "slow", "fast"}));
}

TEST_F(ManualQueueTest, ClockReadingsAreSetByHandAndAdvanceTogether) {
  int ticks = 0;
  auto timer = queue.makeTimer(1.0, [&] { ++ticks; });
  timer->resume();
  queue.runPending();
  clock.setHostSeconds(1000.0);
  clock.setUptimeSeconds(50.0);
  EXPECT_EQ(queue.runPending(), 0u);  // setting a reading fires no timer
  clock.advance(1.5);
  EXPECT_DOUBLE_EQ(clock.hostSeconds(), 1001.5);
  EXPECT_DOUBLE_EQ(clock.uptimeSeconds(), 51.5);
  queue.runPending();
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace mirevo::platform::sim
