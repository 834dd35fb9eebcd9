#include "platform/mac/StreamControl.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimCompletion.hpp"
#include "platform/sim/ManualQueue.hpp"

namespace mirevo::platform::mac {
namespace {

// The system's stream: answers at once with the reply set for it, or keeps
// the answer for the test to give later (none set). Records the teardown's
// calls in order.
struct FakeSystemStream final : SystemStream {
  void requestStart(StartAnswer answer) override {
    if (startReply) {
      stopAgain = answer(*startReply);
    } else {
      keptStart = std::move(answer);
    }
  }
  void requestStop(StopAnswer answer) override {
    if (!answer) {
      calls.push_back(std::string("stop without waiting") +
                      (link->gate().open() ? "" : ", closed"));
      return;
    }
    calls.push_back("stop");
    if (stopReply) answer(*stopReply);
  }
  void removeOutput(int outputType) override {
    calls.push_back("remove " + std::to_string(outputType));
  }

  std::shared_ptr<StreamLink> link;
  std::optional<std::optional<Error>> startReply;
  std::optional<std::optional<Error>> stopReply;
  StartAnswer keptStart;
  std::optional<bool> stopAgain;
  std::vector<std::string> calls;
};

const Error kRefused("SCStreamErrorDomain", -3801, "The user declined TCCs for application.");
const Error kStopFailed("SCStreamErrorDomain", -3808, "Failed to stop the stream.");

class StreamControlTest : public ::testing::Test {
 protected:
  void SetUp() override { system.link = link; }

  std::string messageOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const Error& error) {
      return error.localizedDescription();
    }
    return "";
  }

  sim::SimClock clock;
  SimWaits waits{clock};
  std::shared_ptr<StreamLink> link = std::make_shared<StreamLink>(nullptr);
  FakeSystemStream system;
  StreamControl control{link, system, waits.factory()};
};

TEST_F(StreamControlTest, AStartTheSystemConfirmsRunsAndAStopWaitsForItsAnswer) {
  system.startReply = std::optional<Error>();
  control.start();
  EXPECT_TRUE(link->gate().running());
  EXPECT_TRUE(link->gate().passesBuffers());
  EXPECT_EQ(system.stopAgain, std::optional<bool>(false));

  system.stopReply = std::optional<Error>();
  control.stop();
  EXPECT_FALSE(link->gate().running());
  EXPECT_EQ(system.calls, (std::vector<std::string>{"stop"}));
  EXPECT_EQ(clock.hostSeconds(), 0.0);
}

TEST_F(StreamControlTest, AStartTheSystemRefusesThrowsItsError) {
  system.startReply = kRefused;
  EXPECT_EQ(messageOf([&] { control.start(); }), kRefused.localizedDescription());
  EXPECT_FALSE(link->gate().running());
  control.stop();  // nothing to stop
  EXPECT_TRUE(system.calls.empty());
}

TEST_F(StreamControlTest, AStartIsGivenUpAtItsDeadlineAndALateSuccessIsStoppedAgain) {
  EXPECT_EQ(messageOf([&] { control.start(); }),
            "Starting the capture did not finish within 30 seconds.");
  EXPECT_EQ(clock.hostSeconds(), kCaptureTimeoutSeconds);
  EXPECT_TRUE(link->gate().givenUp());

  ASSERT_TRUE(system.keptStart);
  EXPECT_TRUE(system.keptStart(std::nullopt));  // the system's late success: stop it again
  EXPECT_FALSE(link->gate().passesBuffers());

  // Stopping it swallows what the system says.
  system.stopReply = kStopFailed;
  control.stop();
  EXPECT_FALSE(link->gate().givenUp());
  EXPECT_EQ(system.calls, (std::vector<std::string>{"stop"}));
}

TEST_F(StreamControlTest, AStopAfterAGivenUpStartSwallowsItsTimeoutToo) {
  EXPECT_FALSE(messageOf([&] { control.start(); }).empty());
  control.stop();  // no answer either
  EXPECT_EQ(clock.hostSeconds(), 2 * kCaptureTimeoutSeconds);
  EXPECT_FALSE(system.keptStart(kRefused));  // a late refusal has nothing to stop
}

TEST_F(StreamControlTest, AStartThatSucceedsJustAtTheDeadlineCounts) {
  waits.atDeadline = [&] { system.keptStart(std::nullopt); };
  control.start();
  EXPECT_TRUE(link->gate().running());
  EXPECT_FALSE(link->gate().givenUp());
}

TEST_F(StreamControlTest, AStopTheSystemRefusesThrowsItsError) {
  system.startReply = std::optional<Error>();
  control.start();
  system.stopReply = kStopFailed;
  EXPECT_EQ(messageOf([&] { control.stop(); }), kStopFailed.localizedDescription());
}

// After the system reported a stop of its own, it has nothing more to stop.
TEST(StreamControlAfterAReportedStop, AFailingStopIsNoNews) {
  struct Delegate final : StreamDelegate {
    void didStopWithError(const Error&) override { ++stops; }
    int stops = 0;
  };
  sim::SimClock clock;
  SimWaits waits(clock);
  const auto delegate = std::make_shared<Delegate>();
  FakeSystemStream system;
  system.link = std::make_shared<StreamLink>(delegate);
  StreamControl control(system.link, system, waits.factory());
  system.startReply = std::optional<Error>();
  control.start();
  system.link->reportStop(Error("SCStreamErrorDomain", -3805, "The stream stopped."));
  ASSERT_EQ(delegate->stops, 1);

  system.stopReply = kStopFailed;
  EXPECT_NO_THROW(control.stop());
  EXPECT_FALSE(system.link->gate().running());
}

TEST_F(StreamControlTest, AStopWithoutAnswerTimesOut) {
  system.startReply = std::optional<Error>();
  control.start();
  EXPECT_EQ(messageOf([&] { control.stop(); }),
            "Stopping the capture did not finish within 30 seconds.");
  EXPECT_EQ(clock.hostSeconds(), kCaptureTimeoutSeconds);
}

struct NoOutput final : StreamOutput {
  void didOutputSampleBuffer(const SampleBuffer&, int) override {}
};

// Teardown: the link is closed first (waiting for a delivery in progress),
// then a capture that runs, or may run, is asked to stop without waiting,
// then every output is removed.
TEST(StreamControlTeardown, ClosesTheLinkThenStopsWhatMayRunThenRemovesTheOutputs) {
  struct Case {
    const char* name;
    std::function<void(StreamControl&, FakeSystemStream&)> before;
    bool stops;
  };
  const Case cases[] = {
      {"never started", [](StreamControl&, FakeSystemStream&) {}, false},
      {"running",
       [](StreamControl& control, FakeSystemStream& system) {
         system.startReply = std::optional<Error>();
         control.start();
       },
       true},
      {"start given up",
       [](StreamControl& control, FakeSystemStream&) { EXPECT_ANY_THROW(control.start()); }, true},
      {"stopped",
       [](StreamControl& control, FakeSystemStream& system) {
         system.startReply = std::optional<Error>();
         system.stopReply = std::optional<Error>();
         control.start();
         control.stop();
         system.calls.clear();
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimClock clock;
    SimWaits waits(clock);
    const auto queue = std::make_shared<sim::ManualQueue>(clock);
    FakeSystemStream system;
    system.link = std::make_shared<StreamLink>(nullptr);
    system.link->add(kOutputTypeAudio, std::make_shared<NoOutput>(), queue);
    system.link->add(kOutputTypeMicrophone, std::make_shared<NoOutput>(), queue);
    StreamControl control(system.link, system, waits.factory());
    c.before(control, system);
    control.teardown();
    std::vector<std::string> expected{"remove 1", "remove 2"};
    if (c.stops) expected.insert(expected.begin(), "stop without waiting, closed");
    EXPECT_EQ(system.calls, expected);
    EXPECT_FALSE(system.link->gate().open());
  }
}

}  // namespace
}  // namespace mirevo::platform::mac
