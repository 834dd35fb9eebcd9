#include "platform/ThreadQueue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace mirevo::platform {
namespace {

// Waits for `future` at most ten seconds: a queue that hangs fails the test
// instead of stalling it.
bool arrives(std::future<void> future) {
  return future.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

// Runs a destructor-observable callback when the last copy is released.
std::shared_ptr<void> sentinel(std::function<void()> onRelease) {
  return std::shared_ptr<void>(nullptr, [onRelease = std::move(onRelease)](void*) { onRelease(); });
}

TEST(ThreadQueueTest, RunsWorkOneAtATimeInSubmissionOrder) {
  ThreadQueue queue("test.order");
  std::vector<int> seen;  // touched only on the queue
  std::thread::id worker;
  for (int i = 0; i < 500; ++i) {
    queue.async([&seen, &worker, i] {
      if (i == 0) worker = std::this_thread::get_id();
      EXPECT_EQ(worker, std::this_thread::get_id());
      seen.push_back(i);
    });
  }
  std::vector<int> snapshot;
  queue.sync([&] { snapshot = seen; });
  ASSERT_EQ(snapshot.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(snapshot[i], i);
  EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(ThreadQueueTest, KeepsEachSubmittersOrderAcrossThreads) {
  ThreadQueue queue("test.submitters");
  std::vector<std::pair<int, int>> seen;
  std::vector<std::thread> submitters;
  for (int t = 0; t < 4; ++t) {
    submitters.emplace_back([&queue, &seen, t] {
      for (int i = 0; i < 200; ++i) queue.async([&seen, t, i] { seen.emplace_back(t, i); });
    });
  }
  for (auto& submitter : submitters) submitter.join();
  std::vector<std::pair<int, int>> snapshot;
  queue.sync([&] { snapshot = seen; });
  ASSERT_EQ(snapshot.size(), 800u);
  std::vector<int> next(4, 0);
  for (const auto& [t, i] : snapshot) EXPECT_EQ(i, next[t]++);
}

TEST(ThreadQueueTest, SyncFromWorkOnTheQueueRunsInPlaceInsteadOfWaitingForItself) {
  ThreadQueue queue("test.nested");
  std::vector<std::string> steps;
  queue.sync([&] {
    steps.push_back("outer");
    queue.sync([&] { steps.push_back("inner"); });
    steps.push_back("after");
  });
  EXPECT_EQ(steps, (std::vector<std::string>{"outer", "inner", "after"}));
}

TEST(ThreadQueueTest, TimerTicksAtOnceOnResumeThenRepeatsUntilCancelledFromItsHandler) {
  ThreadQueue queue("test.timer");
  int ticks = 0;
  std::promise<void> thirdTick;
  std::unique_ptr<RepeatingTimer> timer;
  timer = queue.makeTimer(0.001, [&] {
    if (++ticks == 3) {
      timer->cancel();
      thirdTick.set_value();
    }
  });
  queue.sync([&] { timer->resume(); });
  EXPECT_TRUE(arrives(thirdTick.get_future()));

  // A second timer on the same queue gives the first every chance to tick
  // again; it must not.
  int otherTicks = 0;
  std::promise<void> otherDone;
  auto other = queue.makeTimer(0.001, [&] {
    if (++otherTicks == 10) otherDone.set_value();
  });
  other->resume();
  EXPECT_TRUE(arrives(otherDone.get_future()));
  other->cancel();
  int ticksAtEnd = 0;
  queue.sync([&] { ticksAtEnd = ticks; });
  EXPECT_EQ(ticksAtEnd, 3);
}

TEST(ThreadQueueTest, TickAlreadyQueuedWhenCancelledDoesNotRun) {
  ThreadQueue queue("test.cancel");
  std::promise<void> resumeGate;
  std::shared_future<void> resumeOpened = resumeGate.get_future().share();
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::promise<void> blocking;
  int ticks = 0;
  auto timer = queue.makeTimer(60.0, [&] { ++ticks; });
  // Resumed on the queue while the next item already waits behind it, the
  // first tick is due at once and goes in behind that item, which then holds
  // the worker up; cancelling meanwhile must keep the queued tick from running.
  queue.async([&, resumeOpened] {
    resumeOpened.wait();
    timer->resume();
  });
  queue.async([&blocking, opened] {
    blocking.set_value();
    opened.wait();
  });
  resumeGate.set_value();
  EXPECT_TRUE(arrives(blocking.get_future()));
  timer->cancel();
  gate.set_value();
  int seen = -1;
  queue.sync([&] { seen = ticks; });
  EXPECT_EQ(seen, 0);
}

TEST(ThreadQueueTest, DestroyingDiscardsQueuedWorkAndLetsTheRunningItemFinish) {
  auto queue = std::make_unique<ThreadQueue>("test.discard");
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::promise<void> running;
  std::atomic<bool> firstFinished{false};
  std::atomic<bool> secondRan{false};
  std::promise<void> secondReleased;

  queue->async([&, opened] {
    running.set_value();
    opened.wait();
    firstFinished = true;
  });
  queue->async(
      [&secondRan, keep = sentinel([&] { secondReleased.set_value(); })] { secondRan = true; });
  running.get_future().wait();

  std::thread destroyer([&] { queue.reset(); });
  secondReleased.get_future().wait();  // discarded while the first item still runs
  gate.set_value();
  destroyer.join();
  EXPECT_TRUE(firstFinished);
  EXPECT_FALSE(secondRan);
}

// The last holder of an object that owns a queue may be work on that queue;
// the queue is then destroyed on its own worker and must not join itself.
TEST(ThreadQueueTest, CanBeDestroyedByWorkRunningOnIt) {
  struct Owner {
    std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>("test.self");
    std::promise<std::thread::id>* destroyedOn = nullptr;
    ~Owner() {
      queue.reset();
      destroyedOn->set_value(std::this_thread::get_id());
    }
  };
  std::promise<std::thread::id> destroyedOn;
  std::promise<std::thread::id> ranOn;
  auto owner = std::make_shared<Owner>();
  owner->destroyedOn = &destroyedOn;
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  owner->queue->async([owner, opened, &ranOn] {
    opened.wait();
    ranOn.set_value(std::this_thread::get_id());
  });
  owner.reset();
  gate.set_value();
  const auto worker = ranOn.get_future().get();
  EXPECT_EQ(destroyedOn.get_future().get(), worker);
}

}  // namespace
}  // namespace mirevo::platform
