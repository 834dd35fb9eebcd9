#include "platform/mac/StreamLink.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/ThreadQueue.hpp"
#include "platform/sim/ManualQueue.hpp"
#include "platform/sim/SimClock.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace mirevo::platform::mac {
namespace {

using namespace std::chrono_literals;

AudioFormat monoFloat() {
  AudioFormat format;
  format.sampleRate = 48000.0;
  format.channelCount = 1;
  return format;
}

struct RecordingOutput final : StreamOutput {
  void didOutputSampleBuffer(const SampleBuffer& buffer, int outputType) override {
    types.push_back(outputType);
    frames.push_back(buffer.numSamples());
  }
  std::vector<int> types;
  std::vector<std::int64_t> frames;
};

struct RecordingDelegate final : StreamDelegate {
  void didStopWithError(const Error& error) override {
    messages.push_back(error.localizedDescription());
  }
  std::vector<std::string> messages;
};

class StreamLinkWithManualQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    link->add(kOutputTypeAudio, output, queue);
    link->add(kOutputTypeMicrophone, output, queue);
  }

  sim::SimClock clock;
  std::shared_ptr<sim::ManualQueue> queue = std::make_shared<sim::ManualQueue>(clock);
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<StreamLink> link = std::make_shared<StreamLink>(delegate);
  sim::SimSampleBuffer buffer{monoFloat(), 480};
};

TEST_F(StreamLinkWithManualQueue, BuffersReachTheOutputOnlyBetweenStartAndClose) {
  link->deliver(buffer, kOutputTypeAudio);
  EXPECT_TRUE(output->types.empty());

  ASSERT_TRUE(link->gate().markStarted());
  link->deliver(buffer, kOutputTypeAudio);
  link->deliver(buffer, kOutputTypeMicrophone);
  link->deliver(buffer, kOutputTypeScreen);  // no output registered for it
  EXPECT_EQ(output->types, (std::vector<int>{kOutputTypeAudio, kOutputTypeMicrophone}));
  EXPECT_EQ(output->frames, (std::vector<std::int64_t>{480, 480}));

  link->close();
  link->deliver(buffer, kOutputTypeAudio);
  EXPECT_EQ(output->types.size(), 2u);
  EXPECT_EQ(link->outputTypes(), (std::vector<int>{kOutputTypeAudio, kOutputTypeMicrophone}));
}

TEST_F(StreamLinkWithManualQueue, AStopIsReportedOnceOnTheOutputsQueue) {
  ASSERT_TRUE(link->gate().markStarted());
  link->reportStop(Error("SCStreamErrorDomain", -3805, "The stream was stopped."));
  link->reportStop(Error("SCStreamErrorDomain", -3805, "Again."));
  EXPECT_TRUE(delegate->messages.empty());  // handed to the queue, not run here
  EXPECT_EQ(queue->runPending(), 1u);
  EXPECT_EQ(delegate->messages, (std::vector<std::string>{"The stream was stopped."}));
}

TEST_F(StreamLinkWithManualQueue, AReportStillQueuedAtCloseIsDropped) {
  ASSERT_TRUE(link->gate().markStarted());
  link->reportStop(Error("SCStreamErrorDomain", -3805, "The stream was stopped."));
  link->close();
  queue->runPending();
  EXPECT_TRUE(delegate->messages.empty());
}

TEST_F(StreamLinkWithManualQueue, NoStopIsReportedOnceAStopWasAskedFor) {
  ASSERT_TRUE(link->gate().markStarted());
  link->gate().markStopping();
  link->reportStop(Error("SCStreamErrorDomain", -3805, "The stream was stopped."));
  queue->runPending();
  EXPECT_TRUE(delegate->messages.empty());
}

TEST(StreamLink, WithoutOutputsAStopIsReportedOnTheCallingThread) {
  const auto delegate = std::make_shared<RecordingDelegate>();
  const auto link = std::make_shared<StreamLink>(delegate);
  ASSERT_TRUE(link->gate().markStarted());
  link->reportStop(Error("SCStreamErrorDomain", 1, "Gone."));
  EXPECT_EQ(delegate->messages, (std::vector<std::string>{"Gone."}));
}

// An output that holds its call open until the test lets it go.
struct BlockingOutput final : StreamOutput {
  void didOutputSampleBuffer(const SampleBuffer&, int) override {
    entered.set_value();
    release.get_future().wait_for(10s);
    ++calls;
  }
  std::promise<void> entered;
  std::promise<void> release;
  std::atomic<int> calls{0};
};

TEST(StreamLink, CloseWaitsForADeliveryRunningOnTheQueue) {
  const auto queue = std::make_shared<ThreadQueue>("capture.audio");
  const auto output = std::make_shared<BlockingOutput>();
  const auto link = std::make_shared<StreamLink>(nullptr);
  link->add(kOutputTypeAudio, output, queue);
  ASSERT_TRUE(link->gate().markStarted());
  const sim::SimSampleBuffer buffer(monoFloat(), 480);

  queue->async([&] { link->deliver(buffer, kOutputTypeAudio); });
  ASSERT_EQ(output->entered.get_future().wait_for(10s), std::future_status::ready);
  auto closing = std::async(std::launch::async, [&] { link->close(); });
  EXPECT_EQ(closing.wait_for(100ms), std::future_status::timeout);
  output->release.set_value();
  ASSERT_EQ(closing.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(output->calls.load(), 1);
}

TEST(StreamLink, CloseFromTheQueueItselfReturnsAtOnce) {
  const auto queue = std::make_shared<ThreadQueue>("capture.audio");
  const auto link = std::make_shared<StreamLink>(nullptr);
  link->add(kOutputTypeAudio, std::make_shared<RecordingOutput>(), queue);
  std::promise<void> closed;
  queue->async([&] {
    link->close();
    closed.set_value();
  });
  EXPECT_EQ(closed.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(link->gate().open());
}

}  // namespace
}  // namespace mirevo::platform::mac
