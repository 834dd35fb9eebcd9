#include "events/Output.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>

#include <string>
#include <thread>
#include <vector>

#include "CapturedOutput.hpp"

namespace mirevo {
namespace {

using testing::CapturedOutput;

TEST(OutputTest, WritesCompactLinesWithKeysAscendingAtEveryLevel) {
  CapturedOutput output;
  Output::emit({{"type", "devices"},
                {"devices",
                 {{{"label", "Mic"}, {"kind", "audioinput"}, {"isDefault", true}, {"id", "m1"}}}}});
  EXPECT_EQ(output.text(),
            R"({"devices":[{"id":"m1","isDefault":true,"kind":"audioinput","label":"Mic"}],)"
            R"("type":"devices"})"
            "\n");
}

TEST(OutputTest, EscapesEverySolidus) {
  CapturedOutput output;
  Output::emit({{"dataBase64", "//8AABAA8P8="}, {"type", "audio_chunk"}});
  EXPECT_EQ(output.text(), R"({"dataBase64":"\/\/8AABAA8P8=","type":"audio_chunk"})"
                           "\n");
}

TEST(OutputTest, WritesNonAsciiAsUtf8) {
  CapturedOutput output;
  Output::failure("Settings \xE2\x86\x92 Privacy", "s");
  EXPECT_EQ(output.text(),
            "{\"message\":\"Settings \xE2\x86\x92 Privacy\",\"sessionId\":\"s\","
            "\"type\":\"failed\"}\n");
}

TEST(OutputTest, EndsEachLineWithOneLineFeedAndNothingElse) {
  CapturedOutput output;
  Output::emit({{"message", "two\nlines\r"}, {"type", "failed"}});
  Output::emit({{"type", "completed"}});
  EXPECT_EQ(output.text(),
            "{\"message\":\"two\\nlines\\r\",\"type\":\"failed\"}\n"
            "{\"type\":\"completed\"}\n");
}

TEST(OutputTest, FailureCarriesSessionOnlyWhenGiven) {
  CapturedOutput output;
  Output::failure("No active recording session.", std::nullopt);
  Output::failure("No active recording session.", "");
  Output::failure("No active recording session.", "sess-42");
  EXPECT_EQ(
      output.lines(),
      (std::vector<std::string>{
          R"({"message":"No active recording session.","type":"failed"})",
          R"({"message":"No active recording session.","sessionId":"","type":"failed"})",
          R"({"message":"No active recording session.","sessionId":"sess-42","type":"failed"})"}));
}

// Sends the emitter's lines into a pipe that a thread drains while they are
// written, for as long as the object lives.
class PipedOutput {
 public:
  explicit PipedOutput(int writeFlags = 0) {
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe failed");
    ::fcntl(fds_[1], F_SETFL, ::fcntl(fds_[1], F_GETFL) | writeFlags);
    previous_ = Output::redirectForTesting(fds_[1]);
    drain_ = std::thread([this] {
      char chunk[65536];
      for (ssize_t got; (got = ::read(fds_[0], chunk, sizeof chunk)) > 0;) {
        received_.append(chunk, static_cast<std::size_t>(got));
      }
    });
  }
  ~PipedOutput() { finish(); }

  // Everything written, once the writers are done.
  const std::string& finish() {
    if (drain_.joinable()) {
      Output::redirectForTesting(previous_);
      ::close(fds_[1]);
      drain_.join();
      ::close(fds_[0]);
    }
    return received_;
  }

 private:
  int fds_[2];
  int previous_;
  std::thread drain_;
  std::string received_;
};

// Lines far longer than a pipe's atomic write size, written by several threads
// at once: every line must arrive whole, and each thread's lines in its own
// order.
TEST(OutputTest, ConcurrentEmitsGiveWholeLines) {
  constexpr int kThreads = 4;
  constexpr int kLinesPerThread = 40;
  constexpr std::size_t kPayloadBytes = 200 * 1024;

  PipedOutput output;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      const std::string payload(kPayloadBytes, static_cast<char>('a' + t));
      for (int i = 0; i < kLinesPerThread; ++i) {
        Output::emit({{"thread", t}, {"index", i}, {"payload", payload}});
      }
    });
  }
  for (auto& writer : writers) writer.join();
  const std::string& received = output.finish();

  std::vector<int> nextIndex(kThreads, 0);
  std::size_t begin = 0;
  for (std::size_t end; (end = received.find('\n', begin)) != std::string::npos; begin = end + 1) {
    const auto event = nlohmann::json::parse(received.substr(begin, end - begin));
    const int thread = event.at("thread");
    ASSERT_EQ(event.at("index"), nextIndex[thread]);
    ASSERT_EQ(event.at("payload"), std::string(kPayloadBytes, static_cast<char>('a' + thread)));
    ++nextIndex[thread];
  }
  EXPECT_EQ(begin, received.size()) << "an unterminated tail";
  EXPECT_EQ(nextIndex, std::vector<int>(kThreads, kLinesPerThread));
}

// A parent may give the agent a non-blocking pipe; a line longer than the
// pipe holds must still arrive whole rather than be cut where the pipe filled.
TEST(OutputTest, NonBlockingOutputStillGetsWholeLines) {
  const std::string payload(1 << 20, 'p');
  PipedOutput output(O_NONBLOCK);
  for (int i = 0; i < 3; ++i) Output::emit({{"index", i}, {"payload", payload}});
  const std::string expected = Output::serialise({{"index", 0}, {"payload", payload}}) +
                               Output::serialise({{"index", 1}, {"payload", payload}}) +
                               Output::serialise({{"index", 2}, {"payload", payload}});
  EXPECT_TRUE(output.finish() == expected);
}

}  // namespace
}  // namespace mirevo
