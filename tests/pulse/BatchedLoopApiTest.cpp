// The batched loop interface on a plain libpulse main loop, driven by hand,
// with a pipe standing in for the server's socket: input that arrives while
// a descriptor waits for the end of its batch period is taken in one go, and
// its batch ends once, when the period ends or a caller holds batching off; hang-ups
// are told at once; an event that libpulse frees and makes again in its own
// callback (as its I/O channel does) waits like the one before.
#include "platform/pulse/BatchedLoopApi.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pulse/mainloop.h>
#include <pulse/timeval.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace mirevo::platform::pulse {
namespace {

// Long enough that a period never ends within a test, unless it is made to.
constexpr double kNeverSeconds = 3600.0;

// A reader on the pipe's read end that takes one byte a callback, as
// libpulse takes one piece of a packet at a time.
struct PipeReader {
  pa_mainloop_api* api = nullptr;
  int fd = -1;
  pa_io_event* event = nullptr;
  std::string taken;
  int calls = 0;
  int hangUps = 0;
  bool remakeEvent = false;  // frees its event and makes another each time

  static void fired(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t events,
                    void* self) {
    auto& reader = *static_cast<PipeReader*>(self);
    ++reader.calls;
    if ((events & PA_IO_EVENT_HANGUP) != 0) ++reader.hangUps;
    char byte = 0;
    if (::read(fd, &byte, 1) == 1) reader.taken += byte;
    if (reader.remakeEvent) {
      reader.api->io_free(reader.event);
      reader.listen();
    }
  }
  void listen() { event = api->io_new(api, fd, PA_IO_EVENT_INPUT, &PipeReader::fired, this); }
};

class BatchedLoopApiTest : public testing::Test {
 protected:
  void start(double batchSeconds) {
    ASSERT_EQ(::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC), 0);
    batched_ = std::make_unique<BatchedLoopApi>(
        pa_mainloop_get_api(loop_),
        BatchedLoopApi::Handlers{[this] { batchEndsWith_.push_back(reader_.taken); },
                                 [this] { return allowed_; }},
        batchSeconds);
    reader_.api = batched_->api();
    reader_.fd = pipe_[0];
    reader_.listen();
  }

  void TearDown() override {
    if (batched_) {
      batched_->api()->io_free(reader_.event);
      batched_->close();
    }
    pa_mainloop_free(loop_);
    for (const int fd : pipe_) {
      if (fd >= 0) ::close(fd);
    }
  }

  void send(const std::string& bytes) {
    ASSERT_EQ(::write(pipe_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void hangUp() {
    ::close(pipe_[1]);
    pipe_[1] = -1;
  }
  // Dispatches what is ready now, without waiting.
  void runReady() {
    for (int round = 0; round < 100 && pa_mainloop_iterate(loop_, 0, nullptr) > 0; ++round) {
    }
  }
  // Waits in the loop until `bytes` have been taken, a few seconds at most.
  void runUntilTaken(std::size_t bytes) {
    for (int round = 0; round < 1000 && reader_.taken.size() < bytes; ++round) {
      pa_mainloop_iterate(loop_, 1, nullptr);
    }
  }

  pa_mainloop* loop_ = pa_mainloop_new();
  int pipe_[2] = {-1, -1};
  std::unique_ptr<BatchedLoopApi> batched_;
  PipeReader reader_;
  bool allowed_ = true;
  std::vector<std::string> batchEndsWith_;  // what had been taken at each settling
};

TEST_F(BatchedLoopApiTest, WithoutBatchingEveryInputEndsItsBatchAtOnce) {
  allowed_ = false;
  start(kNeverSeconds);
  send("a");
  runReady();
  send("bc");
  runReady();
  EXPECT_EQ(reader_.taken, "abc");
  EXPECT_EQ(batchEndsWith_, (std::vector<std::string>{"a", "ab", "abc"}));
}

TEST_F(BatchedLoopApiTest, InputWaitsForThePeriodsEndAndIsTakenAsOneBatch) {
  start(0.01);
  send("a");
  runReady();
  send("bcd");
  runUntilTaken(4);
  EXPECT_EQ(reader_.taken, "abcd");
  EXPECT_EQ(reader_.calls, 4);
  // Once after the first byte, once after the whole batch.
  EXPECT_EQ(batchEndsWith_, (std::vector<std::string>{"a", "abcd"}));
}

TEST_F(BatchedLoopApiTest, ADrainedDescriptorIsNotListenedToUntilAHoldEndsTheWait) {
  start(kNeverSeconds);
  send("a");
  runReady();
  send("b");
  runReady();
  EXPECT_EQ(reader_.taken, "a") << "input was taken within the batch period";

  BatchedLoopApi::Hold hold(*batched_);
  runReady();
  EXPECT_EQ(reader_.taken, "ab");
}

TEST_F(BatchedLoopApiTest, AHangUpIsToldWhileInputWaits) {
  start(kNeverSeconds);
  send("a");
  runReady();
  hangUp();
  runReady();
  EXPECT_GE(reader_.hangUps, 1);
}

TEST_F(BatchedLoopApiTest, AnEventMadeAgainInItsOwnCallbackWaitsLikeTheOneBefore) {
  start(kNeverSeconds);
  reader_.remakeEvent = true;
  send("a");
  runReady();
  send("b");
  runReady();
  EXPECT_EQ(reader_.taken, "a") << "the new event was listened to within the batch period";

  BatchedLoopApi::Hold hold(*batched_);
  runReady();
  EXPECT_EQ(reader_.taken, "ab");
  EXPECT_EQ(batchEndsWith_.back(), "ab");
}

TEST_F(BatchedLoopApiTest, DeferredWorkEndsItsBatchAfterItRuns) {
  start(kNeverSeconds);
  int runs = 0;
  pa_mainloop_api* api = batched_->api();
  pa_defer_event* deferred = api->defer_new(
      api,
      [](pa_mainloop_api* a, pa_defer_event* event, void* count) {
        ++*static_cast<int*>(count);
        a->defer_enable(event, 0);
      },
      &runs);
  runReady();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(batchEndsWith_.size(), 1u);
  api->defer_free(deferred);
}

// libpulse checks that a timer fires with the interface it was made through
// and as the event it was given (a reply that times out asserts both, and
// aborts the process otherwise).
TEST_F(BatchedLoopApiTest, ATimerFiresWithTheInterfaceAndTheEventItWasMadeWith) {
  start(kNeverSeconds);
  struct Fired {
    pa_mainloop_api* api = nullptr;
    pa_time_event* event = nullptr;
    int count = 0;
    pa_mainloop_api* destroyedWith = nullptr;
  } fired;
  pa_mainloop_api* api = batched_->api();
  timeval now{};
  pa_gettimeofday(&now);
  pa_time_event* timer = api->time_new(
      api, &now,
      [](pa_mainloop_api* a, pa_time_event* event, const struct timeval*, void* self) {
        auto& record = *static_cast<Fired*>(self);
        record.api = a;
        record.event = event;
        ++record.count;
      },
      &fired);
  ASSERT_NE(timer, nullptr);
  api->time_set_destroy(timer, [](pa_mainloop_api* a, pa_time_event*, void* self) {
    static_cast<Fired*>(self)->destroyedWith = a;
  });
  runReady();
  EXPECT_EQ(fired.count, 1);
  EXPECT_EQ(fired.api, api);
  EXPECT_EQ(fired.event, timer);
  // Restarted, it fires again; freed, it is destroyed through the same
  // interface.
  api->time_restart(timer, &now);
  runReady();
  EXPECT_EQ(fired.count, 2);
  api->time_free(timer);
  runReady();
  EXPECT_EQ(fired.destroyedWith, api);
}

}  // namespace
}  // namespace mirevo::platform::pulse
