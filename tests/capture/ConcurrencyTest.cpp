// Sessions on real thread queues, with a platform thread delivering while the
// command loop's thread stops or lets go. Run these under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CapturedOutput.hpp"
#include "ChunkSamples.hpp"
#include "SimSession.hpp"

namespace mirevo::testing {
namespace {

using platform::Error;
using platform::kOutputTypeAudio;
using platform::kOutputTypeMicrophone;

constexpr std::int64_t kFrames = 480;  // 10 ms
// Bounds every wait on the other threads: a hang fails the test instead.
constexpr auto kPatience = std::chrono::seconds(10);

// Yields until `done` holds; false when it still does not after kPatience.
bool waitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Plays a platform thread: delivers 10 ms buffers of both sources, in turn,
// until the stream stops taking them (or, when a test gives up early, until
// it is destroyed).
class PlatformThread {
 public:
  explicit PlatformThread(sim::SimCaptureService& capture)
      : thread_([this, &capture] {
          for (std::int64_t i = 0; !quit_; ++i) {
            const int type = i % 2 == 0 ? kOutputTypeMicrophone : kOutputTypeAudio;
            const double at = static_cast<double>(i / 2) * 0.010;
            if (!capture.deliver(type, tone(0.1f, kFrames, at))) return;
            (type == kOutputTypeMicrophone ? microphoneFrames : systemFrames) += kFrames;
          }
        }) {}
  ~PlatformThread() {
    quit_ = true;
    join();
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  // Busy until the platform has handed over `frames` of each source; false
  // when it has not within kPatience.
  [[nodiscard]] bool awaitFrames(std::int64_t frames) const {
    return waitUntil([&] { return microphoneFrames >= frames && systemFrames >= frames; });
  }

  std::atomic<std::int64_t> microphoneFrames{0};
  std::atomic<std::int64_t> systemFrames{0};

 private:
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

std::int64_t samplesIn(const nlohmann::json& chunk) {
  return static_cast<std::int64_t>(chunkSamples(chunk).size());
}

TEST(ConcurrencyTest, AudioDeliveredRightUpToTheStopIsNeverLostAndNothingFollowsCompleted) {
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    CapturedOutput output;
    SimSession recording(sim::SimQueues::threads);
    recording.start();
    PlatformThread platform(recording.sim.capture);
    ASSERT_TRUE(platform.awaitFrames(10 * kFrames));
    recording.capture->stop();
    platform.join();

    const auto events = output.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("type"), "completed");
    std::int64_t microphone = 0;
    std::int64_t system = 0;
    std::int64_t nextSequence[2] = {0, 0};
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
      const auto& event = events[i];
      ASSERT_NE(event.at("type"), "completed");
      if (event.at("type") != "audio_chunk") continue;
      const bool isMicrophone = event.at("source") == "microphone";
      EXPECT_EQ(event.at("sequence"), nextSequence[isMicrophone ? 0 : 1]++);
      (isMicrophone ? microphone : system) += samplesIn(event);
    }
    EXPECT_EQ(microphone, platform.microphoneFrames.load());
    EXPECT_EQ(system, platform.systemFrames.load());
  }
}

TEST(ConcurrencyTest, AStreamErrorRacingAStopEndsTheSessionExactlyOnce) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    CapturedOutput output;
    SimSession recording(sim::SimQueues::threads);
    recording.start();
    PlatformThread platform(recording.sim.capture);
    ASSERT_TRUE(platform.awaitFrames(2 * kFrames));
    std::thread reporter(
        [&] { recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 4, "lost")); });
    recording.capture->stop();
    reporter.join();
    platform.join();

    const auto types = output.types();
    ASSERT_FALSE(types.empty());
    const auto ends = std::count(types.begin(), types.end(), "completed") +
                      std::count(types.begin(), types.end(), "failed");
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(types.back() == "completed" || types.back() == "failed");
  }
}

TEST(ConcurrencyTest, LettingGoWhileThePlatformDeliversEndsAllWorkOfTheSession) {
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    CapturedOutput output;
    SimSession recording(sim::SimQueues::threads);
    recording.start();
    PlatformThread platform(recording.sim.capture);
    ASSERT_TRUE(platform.awaitFrames(200 * kFrames));
    recording.capture.reset();
    platform.join();
    const std::string after = output.text();
    EXPECT_FALSE(recording.sim.capture.streamAlive());
    EXPECT_EQ(after.find("completed"), std::string::npos);
    EXPECT_EQ(output.text(), after);  // nothing is still at work
  }
}

TEST(ConcurrencyTest, TheLastReferenceMayBeReleasedByTheSessionsOwnQueue) {
  CapturedOutput output;
  SimSession recording(sim::SimQueues::threads);
  recording.start();
  ASSERT_TRUE(recording.sim.capture.reportStreamError(Error("SCStreamErrorDomain", 4, "lost")));
  const std::weak_ptr<Capture> session = recording.capture;
  recording.capture.reset();
  ASSERT_TRUE(waitUntil([&] { return session.expired(); }));
  const auto types = output.types();
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), "failed");
}

}  // namespace
}  // namespace mirevo::testing
