#include "platform/mac/DispatchQueueState.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace mirevo::platform::mac {
namespace {

// The system's serial queue, drained by the test. Items that ran are kept,
// so that what an item holds is seen to be released on the queue, not with
// the system's copy of it.
struct FakeQueueSystem final : QueueSystem {
  void submit(std::function<void()> item) override { queued.push_back(std::move(item)); }
  void submitAndWait(std::function<void()> item) override {
    ++waits;
    drain();
    run(item);
  }
  bool isCurrent() const override { return current; }

  void drain() {
    while (!queued.empty()) {
      auto item = std::move(queued.front());
      queued.pop_front();
      run(item);
      ran.push_back(std::move(item));
    }
  }
  void run(std::function<void()>& item) {
    current = true;
    item();
    current = false;
  }

  std::deque<std::function<void()>> queued;
  std::vector<std::function<void()>> ran;
  bool current = false;
  int waits = 0;
};

class DispatchQueueStateTest : public ::testing::Test {
 protected:
  FakeQueueSystem system;
  DispatchQueueState state{system};
  std::vector<int> order;
};

TEST_F(DispatchQueueStateTest, WorkRunsInOrderOnTheQueueAndReleasesWhatItHoldsThere) {
  auto held = std::make_shared<int>(1);
  const std::weak_ptr<int> watch = held;
  state.async([&, held = std::move(held)] { order.push_back(*held); });
  state.async([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  system.drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(watch.expired());
}

TEST_F(DispatchQueueStateTest, SyncWaitsForQueuedWorkAndFromTheQueueItselfRunsInPlace) {
  state.async([&] { order.push_back(1); });
  state.sync([&] { order.push_back(2); });
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(system.waits, 1);

  state.async([&] {
    state.sync([&] { order.push_back(3); });  // waiting here would never end
    order.push_back(4);
  });
  system.drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(system.waits, 1);
}

TEST_F(DispatchQueueStateTest, ClosingSkipsQueuedWorkReleasesItAndWaitsForTheRunningItem) {
  auto held = std::make_shared<int>(1);
  const std::weak_ptr<int> watch = held;
  state.async([&, held = std::move(held)] { order.push_back(*held); });
  state.close();
  EXPECT_EQ(system.waits, 1);  // an empty item after whatever runs now
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(state.openFlag()->load());

  state.async([&] { order.push_back(2); });
  state.sync([&] { order.push_back(3); });
  system.drain();
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(system.waits, 1);
}

TEST_F(DispatchQueueStateTest, ClosingFromTheQueueItselfDoesNotWait) {
  state.async([&] { state.close(); });
  state.async([&] { order.push_back(1); });
  system.drain();
  EXPECT_EQ(system.waits, 0);
  EXPECT_TRUE(order.empty());
}

}  // namespace
}  // namespace mirevo::platform::mac
