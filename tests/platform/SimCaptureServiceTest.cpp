#include "platform/sim/SimCaptureService.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/sim/SimPlatform.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace mirevo::platform::sim {
namespace {

struct Received {
  std::vector<int> types;
  std::vector<std::string> errors;
  std::thread::id errorThread;
};

class RecordingOutput final : public StreamOutput, public StreamDelegate {
 public:
  explicit RecordingOutput(Received& received) : received_(received) {}
  void didOutputSampleBuffer(const SampleBuffer&, int outputType) override {
    received_.types.push_back(outputType);
  }
  void didStopWithError(const Error& error) override {
    received_.errors.push_back(error.localizedDescription());
    received_.errorThread = std::this_thread::get_id();
  }

 private:
  Received& received_;
};

class SimCaptureServiceTest : public ::testing::Test {
 protected:
  SimPlatform sim;
  Received received;
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>(received);
  std::shared_ptr<ManualQueue> audioQueue = std::make_shared<ManualQueue>(sim.clock);
  std::shared_ptr<ManualQueue> micQueue = std::make_shared<ManualQueue>(sim.clock);
  std::shared_ptr<SampleBuffer> buffer =
      std::make_shared<SimSampleBuffer>(SimSampleBuffer::silence(480, 48000));

  std::unique_ptr<Stream> makeRegisteredStream() {
    auto stream = sim.capture.makeStream({}, {}, output);
    stream->addStreamOutput(output, kOutputTypeAudio, audioQueue);
    stream->addStreamOutput(output, kOutputTypeMicrophone, micQueue);
    return stream;
  }
};

TEST_F(SimCaptureServiceTest, ScriptedFailureHitsOnceOrEveryTime) {
  sim.capture.failAt(SimStep::shareableContent, Error("Sim", 7, "no content"));
  EXPECT_THROW(sim.capture.shareableContent(), Error);
  EXPECT_NO_THROW(sim.capture.shareableContent());

  auto stream = makeRegisteredStream();
  sim.capture.failAt(SimStep::stopCapture, Error("Sim", 8, "stuck"), /*everyTime=*/true);
  stream->startCapture();
  EXPECT_THROW(stream->stopCapture(), Error);
  EXPECT_THROW(stream->stopCapture(), Error);
  EXPECT_TRUE(sim.capture.capturing());
  sim.capture.clearFailure(SimStep::stopCapture);
  stream->stopCapture();
  EXPECT_FALSE(sim.capture.capturing());
}

TEST_F(SimCaptureServiceTest, FailedRegistrationRegistersNothing) {
  auto stream = sim.capture.makeStream({}, {}, output);
  sim.capture.failAt(SimStep::addMicrophoneOutput, Error("Sim", 1, "mic output"));
  stream->addStreamOutput(output, kOutputTypeAudio, audioQueue);
  EXPECT_THROW(stream->addStreamOutput(output, kOutputTypeMicrophone, micQueue), Error);
  EXPECT_EQ(sim.capture.registeredOutputTypes(), std::vector<int>{kOutputTypeAudio});
}

TEST_F(SimCaptureServiceTest, DeliversOnlyWhileCapturingOntoTheQueueOfTheType) {
  auto stream = makeRegisteredStream();
  EXPECT_FALSE(sim.capture.deliver(kOutputTypeAudio, buffer));  // not started
  stream->startCapture();
  EXPECT_TRUE(sim.capture.deliver(kOutputTypeMicrophone, buffer));
  EXPECT_TRUE(sim.capture.deliver(kOutputTypeAudio, buffer));
  EXPECT_TRUE(sim.capture.deliverTagged(kOutputTypeAudio, kOutputTypeScreen, buffer));
  EXPECT_FALSE(sim.capture.deliver(kOutputTypeScreen, buffer));  // never registered
  EXPECT_TRUE(received.types.empty());                           // only submitted so far

  micQueue->runPending();
  EXPECT_EQ(received.types, std::vector<int>{kOutputTypeMicrophone});
  audioQueue->runPending();
  EXPECT_EQ(received.types,
            (std::vector<int>{kOutputTypeMicrophone, kOutputTypeAudio, kOutputTypeScreen}));
}

TEST_F(SimCaptureServiceTest, StreamErrorArrivesOnAnotherThread) {
  auto stream = makeRegisteredStream();
  stream->startCapture();
  ASSERT_TRUE(sim.capture.reportStreamError(Error("Sim", 3, "device gone")));
  EXPECT_EQ(received.errors, std::vector<std::string>{"device gone"});
  EXPECT_NE(received.errorThread, std::this_thread::get_id());
}

TEST_F(SimCaptureServiceTest, DestroyedStreamIsFencedOff) {
  auto stream = makeRegisteredStream();
  stream->startCapture();
  stream.reset();
  EXPECT_FALSE(sim.capture.streamAlive());
  EXPECT_FALSE(sim.capture.deliver(kOutputTypeAudio, buffer));
  EXPECT_FALSE(sim.capture.reportStreamError(Error("Sim", 3, "late")));
  audioQueue->runPending();
  EXPECT_TRUE(received.types.empty());
  EXPECT_TRUE(received.errors.empty());
  EXPECT_EQ(sim.calls.calls(),
            (std::vector<std::string>{"makeStream", "addStreamOutput 1", "addStreamOutput 2",
                                      "startCapture", "destroyStream"}));
}

}  // namespace
}  // namespace mirevo::platform::sim
