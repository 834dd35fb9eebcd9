// A session whose queue stands still, because its events cannot be written
// (the parent has stopped reading), while the platform goes on delivering:
// the audio waiting for the queue is held to the stream's budget, newer
// buffers are dropped, and the dropped stretch shows as one gap.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "CapturedOutput.hpp"
#include "PosixDescriptors.hpp"
#include "SimSession.hpp"
#include "events/Output.hpp"

namespace mirevo::testing {
namespace {

using namespace std::chrono_literals;
using platform::kOutputTypeAudio;
using platform::kOutputTypeMicrophone;

constexpr std::int64_t kFrames = 4800;  // 100 ms
constexpr std::size_t kBufferBytes = kFrames * sizeof(float);

const char* sourceOf(int outputType) {
  return outputType == kOutputTypeMicrophone ? "microphone" : "system";
}

// Hands over buffer `index` (100 ms each) of a source; records it in `kept`
// when it was not dropped, and checks the budget after each hand-over.
void deliver(sim::SimCaptureService& capture, int outputType, int index, std::size_t budget,
             std::vector<std::string>& kept) {
  if (capture.deliver(outputType, tone(0.25f, kFrames, index * 0.1))) {
    kept.push_back(std::string(sourceOf(outputType)) + " " + std::to_string(index));
  }
  EXPECT_LE(capture.backlogBytes(), budget);
}

// (sequence, startedAtMs, durationMs) of a source's chunks.
std::vector<std::vector<int>> timesOf(const std::vector<nlohmann::json>& events,
                                      const std::string& source) {
  std::vector<std::vector<int>> times;
  for (const auto& event : events) {
    if (event.at("type") != "audio_chunk" || event.at("source") != source) continue;
    times.push_back({event.at("sequence").get<int>(), event.at("startedAtMs").get<int>(),
                     event.at("durationMs").get<int>()});
  }
  return times;
}

std::vector<nlohmann::json> withoutStatus(const std::vector<nlohmann::json>& events) {
  std::vector<nlohmann::json> kept;
  for (const auto& event : events) {
    if (event.at("type") != "status") kept.push_back(event);
  }
  return kept;
}

TEST(BacklogTest, AStalledQueueHoldsTheBudgetAndTheDroppedStretchIsOneGap) {
  CapturedOutput output;
  SimSession recording;
  const std::size_t budget = 5 * kBufferBytes;  // exactly five buffers fit
  recording.sim.capture.setBacklogBudget(budget);
  recording.start();
  recording.drain();  // the first status
  output.clear();
  auto& capture = recording.sim.capture;
  const auto queue = recording.sim.lastQueue();

  // Three seconds of both sources while nothing on the queue runs.
  std::vector<std::string> kept;
  for (int i = 0; i < 30; ++i) {
    for (const int type : {kOutputTypeMicrophone, kOutputTypeAudio}) {
      deliver(capture, type, i, budget, kept);
      EXPECT_LE(queue->pendingCount() * kBufferBytes, budget);
    }
  }
  // The oldest stay, the newest went.
  EXPECT_EQ(kept, (std::vector<std::string>{"microphone 0", "system 0", "microphone 1", "system 1",
                                            "microphone 2"}));
  EXPECT_TRUE(output.events().empty());

  // The queue goes on; then live audio, at its own capture time.
  recording.drain();
  EXPECT_EQ(capture.backlogBytes(), 0u);
  kept.clear();
  for (int i = 30; i < 35; ++i) {
    for (const int type : {kOutputTypeMicrophone, kOutputTypeAudio}) {
      deliver(capture, type, i, budget, kept);
      recording.drain();
    }
  }
  EXPECT_EQ(kept.size(), 10u);
  recording.capture->stop();

  const auto events = output.events();
  EXPECT_EQ(outline(events), (std::vector<std::string>{
                                 "chunk microphone 0 300ms", "chunk system 0 200ms",
                                 "chunk microphone 1 500ms", "chunk system 1 500ms", "completed"}));
  // What was kept, in order; the dropped stretch is one gap up to 3 s.
  EXPECT_EQ(timesOf(events, "microphone"),
            (std::vector<std::vector<int>>{{0, 0, 300}, {1, 3000, 500}}));
  EXPECT_EQ(timesOf(events, "system"),
            (std::vector<std::vector<int>>{{0, 0, 200}, {1, 3000, 500}}));
}

// A drop lasts until the backlog has drained: a smaller buffer that would
// still fit after a larger one was dropped must not split the gap in two.
TEST(BacklogTest, ASmallerBufferAfterADropDoesNotSplitTheGap) {
  CapturedOutput output;
  SimSession recording;
  recording.sim.capture.setBacklogBudget(5 * kBufferBytes);
  recording.start();
  recording.drain();
  output.clear();
  auto& capture = recording.sim.capture;

  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(capture.deliver(kOutputTypeMicrophone, tone(0.25f, kFrames, i * 0.1)));
  }
  EXPECT_FALSE(capture.deliver(kOutputTypeMicrophone, tone(0.25f, 2 * kFrames, 0.4)));
  EXPECT_FALSE(capture.deliver(kOutputTypeMicrophone, tone(0.25f, kFrames, 0.6)));
  recording.drain();
  EXPECT_TRUE(capture.deliver(kOutputTypeMicrophone, tone(0.25f, kFrames, 0.7)));
  recording.drain();
  recording.capture->stop();

  EXPECT_EQ(timesOf(output.events(), "microphone"),
            (std::vector<std::vector<int>>{{0, 0, 400}, {1, 700, 100}}));
}

// The emitter writes into a pipe that nobody reads until it is read from: a
// parent that has stopped reading. A pipe holds 64 KiB, less than the line of
// one second of audio (128 kB), so the first full chunk blocks its writer.
class StalledParent {
 public:
  StalledParent() {
    EXPECT_TRUE(mirevo::testing::makePipe(fds_));
    previous_ = Output::redirectForTesting(fds_[1]);
  }
  ~StalledParent() {
    Output::redirectForTesting(previous_);
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  StalledParent(const StalledParent&) = delete;
  StalledParent& operator=(const StalledParent&) = delete;

  // Reads again, until a `completed` line has come or `limit` has passed;
  // returns the events read.
  std::vector<nlohmann::json> readUntilCompleted(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string text;
    std::vector<char> chunk(65536);
    while (text.find("\"type\":\"completed\"") == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fds_[0], POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t got = ::read(fds_[0], chunk.data(), chunk.size());
      if (got <= 0) break;
      text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    std::vector<nlohmann::json> events;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
      events.push_back(nlohmann::json::parse(text.substr(begin, end - begin)));
    }
    return events;
  }

 private:
  int fds_[2] = {-1, -1};
  int previous_ = -1;
};

// Polls `condition` until it holds or `limit` passes.
template <class Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(BacklogTest, AStopDuringAStallEndsWithTheKeptAudioAndCompletedOnceTheParentReads) {
  StalledParent parent;
  SimSession recording(sim::SimQueues::threads);
  const std::size_t budget = 6 * kBufferBytes;
  recording.sim.capture.setBacklogBudget(budget);
  recording.start();
  auto& capture = recording.sim.capture;

  // A second of both sources, each buffer taken before the next comes, up to
  // the microphone's tenth: it completes a chunk that the parent does not
  // read, so its output call blocks and the queue stands still.
  std::vector<std::string> kept;
  for (int i = 0; i < 10; ++i) {
    for (const int type : {kOutputTypeMicrophone, kOutputTypeAudio}) {
      if (i == 9 && type == kOutputTypeAudio) break;
      deliver(capture, type, i, budget, kept);
      if (i < 9) {
        ASSERT_TRUE(waitFor([&] { return capture.backlogBytes() == 0; }));
      }
    }
  }
  ASSERT_EQ(kept.size(), 19u);

  // Two more seconds while the writer is blocked: the microphone's tenth
  // buffer, which counts until its output call returns, and the next five
  // fill the budget.
  kept.clear();
  deliver(capture, kOutputTypeAudio, 9, budget, kept);
  for (int i = 10; i < 30; ++i) {
    for (const int type : {kOutputTypeMicrophone, kOutputTypeAudio}) {
      deliver(capture, type, i, budget, kept);
    }
  }
  EXPECT_EQ(kept, (std::vector<std::string>{"system 9", "microphone 10", "system 10",
                                            "microphone 11", "system 11"}));

  // The parent asks to stop while it does not read; the stop waits.
  std::thread stopper([&] { recording.capture->stop(); });
  ASSERT_TRUE(waitFor([&] { return !capture.capturing(); }));
  const auto events = withoutStatus(parent.readUntilCompleted(10s));
  stopper.join();

  EXPECT_EQ(outline(events), (std::vector<std::string>{
                                 "chunk microphone 0 1000ms", "chunk system 0 1000ms",
                                 "chunk microphone 1 200ms", "chunk system 1 200ms", "completed"}));
  EXPECT_EQ(timesOf(events, "microphone"),
            (std::vector<std::vector<int>>{{0, 0, 1000}, {1, 1000, 200}}));
  EXPECT_EQ(timesOf(events, "system"),
            (std::vector<std::vector<int>>{{0, 0, 1000}, {1, 1000, 200}}));
}

}  // namespace
}  // namespace mirevo::testing
