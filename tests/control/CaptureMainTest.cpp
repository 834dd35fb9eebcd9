#include "control/CaptureMain.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "CapturedOutput.hpp"
#include "CommandInput.hpp"
#include "FakeCapture.hpp"

namespace mirevo::control {
namespace {

using testing::FakeCapture;
using testing::FakeEnvironment;
using Lines = std::vector<std::string>;

static_assert(CaptureSession<FakeCapture>);

const std::string kInvalidStartText(kInvalidStart);
const std::string kNoActiveText(kNoActiveSession);
const std::string kUnknownText(kUnknownCommand);

std::string failed(const std::string& message, std::optional<std::string> session = {}) {
  return R"({"message":")" + message + "\"," +
         (session ? R"("sessionId":")" + *session + "\"," : std::string()) + R"("type":"failed"})";
}

std::string completed(const std::string& session) {
  return R"({"sessionId":")" + session + R"(","type":"completed"})";
}

std::string start(const std::string& session, const std::string& job) {
  return R"({"type":"start","sessionId":")" + session + R"(","jobId":")" + job + "\"}\n";
}

std::string stop(const std::string& session) {
  return R"({"type":"stop","sessionId":")" + session + "\"}\n";
}

const std::string kListDevices = "{\"type\":\"list_devices\"}\n";
const std::string kDevicesLine =
    R"({"devices":[{"id":"m1","isDefault":true,"kind":"audioinput","label":"Mic"}],"type":"devices"})";

// Runs the loop over `input` (held in an anonymous file) with the fake
// session, and captures what it emits.
class CaptureMainTest : public ::testing::Test {
 protected:
  CaptureMainTest() {
    env.devices = {{{"id", "m1"}, {"isDefault", true}, {"kind", "audioinput"}, {"label", "Mic"}}};
  }

  Lines run(std::string_view input, std::vector<std::string> args = {"mirevo-capture"}) {
    const testing::CommandInput commands(input);
    const Lines lines = runOn(commands.fd(), args);
    inputOffset = commands.offset();
    return lines;
  }

  Lines runOn(int fd, const std::vector<std::string>& args = {"mirevo-capture"}) {
    EXPECT_EQ(CaptureMain<FakeCapture>::main(args, fd, env), 0);
    return output.lines();
  }

  FakeEnvironment env;
  testing::CapturedOutput output;
  off_t inputOffset = -1;
};

// --- Start-up ---------------------------------------------------------------

class SelfTestArgumentsTest : public CaptureMainTest,
                              public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(SelfTestArgumentsTest, AnswersSelfTestWithoutReadingInput) {
  EXPECT_EQ(
      run(kListDevices + start("s1", "j1"), GetParam()),
      Lines{
          R"({"minimumMacOS":"15.0","platform":"darwin","protocolVersion":1,"type":"self_test"})"});
  EXPECT_EQ(inputOffset, 0);
  EXPECT_TRUE(env.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Positions, SelfTestArgumentsTest,
                         ::testing::Values(std::vector<std::string>{"--self-test"},
                                           std::vector<std::string>{"agent", "--self-test"},
                                           std::vector<std::string>{"agent", "x", "--self-test",
                                                                    "y"}));

class NotSelfTestArgumentsTest : public CaptureMainTest,
                                 public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(NotSelfTestArgumentsTest, RunsTheCommandLoop) {
  EXPECT_EQ(run(kListDevices, GetParam()), Lines{kDevicesLine});
}

INSTANTIATE_TEST_SUITE_P(Lookalikes, NotSelfTestArgumentsTest,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"agent", "--self-test=1"},
                                           std::vector<std::string>{"agent", "--SELF-TEST"},
                                           std::vector<std::string>{"agent", " --self-test"},
                                           std::vector<std::string>{"agent", "-self-test"}));

// --- Commands by state --------------------------------------------------------

TEST_F(CaptureMainTest, ListDevicesWhileIdle) {
  EXPECT_EQ(run(kListDevices), Lines{kDevicesLine});
  EXPECT_EQ(env.calls, Lines{"devices"});
}

TEST_F(CaptureMainTest, ListDevicesAndUnknownTypesWhileRecordingLeaveItRunning) {
  EXPECT_EQ(run(start("s1", "j1") + kListDevices +
                R"({"type":"pause","sessionId":"s1"})"
                "\n" +
                R"({"type":"START","sessionId":"s2","jobId":"j2"})"
                "\n" +
                stop("s1")),
            (Lines{kDevicesLine, failed(kUnknownText), failed(kUnknownText), completed("s1")}));
  EXPECT_EQ(env.calls,
            (Lines{"create s1", "start s1 j1 (none)", "devices", "stop s1", "release s1"}));
}

TEST_F(CaptureMainTest, UnknownTypeWhileIdleCarriesNoSession) {
  EXPECT_EQ(run(R"({"type":"stop ","sessionId":"s1"})"
                "\n"),
            Lines{failed(kUnknownText)});
}

TEST_F(CaptureMainTest, StartEmitsNothingAndPassesTheDeviceAsItCame) {
  EXPECT_EQ(run(R"({"type":"start","sessionId":"s1","jobId":"j1","microphoneDeviceId":""})"
                "\n" +
                stop("s1") + start("s2", "j2") + stop("s2") +
                R"({"type":"start","sessionId":"s3","jobId":"j3","microphoneDeviceId":"usb-3"})"
                "\n"),
            (Lines{completed("s1"), completed("s2"), completed("s3")}));
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 ", "stop s1", "release s1", "create s2",
                              "start s2 j2 (none)", "stop s2", "release s2", "create s3",
                              "start s3 j3 usb-3", "stop s3", "release s3"}));
}

TEST_F(CaptureMainTest, EndedIdentifiersMayBeReused) {
  EXPECT_EQ(run(start("s1", "j1") + stop("s1") + start("s1", "j2") + stop("s1")),
            (Lines{completed("s1"), completed("s1")}));
}

struct RejectedStartCase {
  std::string name;
  std::string line;
  std::optional<std::string> session;
};

const RejectedStartCase kRejectedStarts[] = {
    {"NoSession", R"({"type":"start","jobId":"j"})", {}},
    {"NullSession", R"({"type":"start","sessionId":null,"jobId":"j"})", {}},
    {"EmptySession", R"({"type":"start","sessionId":"","jobId":"j"})", ""},
    {"NoJob", R"({"type":"start","sessionId":"s"})", "s"},
    {"NullJob", R"({"type":"start","sessionId":"s","jobId":null})", "s"},
    {"EmptyJob", R"({"type":"start","sessionId":"s","jobId":""})", "s"},
    {"NothingAtAll", R"({"type":"start"})", {}},
};

class RejectedStartTest : public CaptureMainTest,
                          public ::testing::WithParamInterface<RejectedStartCase> {};

TEST_P(RejectedStartTest, IsRefusedWithTheCommandsSession) {
  EXPECT_EQ(run(GetParam().line + "\n"), Lines{failed(kInvalidStartText, GetParam().session)});
  EXPECT_TRUE(env.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, RejectedStartTest, ::testing::ValuesIn(kRejectedStarts),
                         [](const auto& info) { return info.param.name; });

TEST_F(CaptureMainTest, StartWhileRecordingIsRefusedAndTheRecordingGoesOn) {
  EXPECT_EQ(
      run(start("s1", "j1") + start("s2", "j2") + start("s1", "j1") + stop("s1")),
      (Lines{failed(kInvalidStartText, "s2"), failed(kInvalidStartText, "s1"), completed("s1")}));
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1"}));
}

TEST_F(CaptureMainTest, FailedStartReportsThenCleansUpAndAcceptsANewStart) {
  env.failingStarts = 1;
  EXPECT_EQ(run(start("s1", "j1") + start("s2", "j2") + stop("s2")),
            (Lines{failed("The selected microphone is no longer available.", "s1"), completed("s1"),
                   completed("s2")}));
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1",
                              "create s2", "start s2 j2 (none)", "stop s2", "release s2"}));
}

TEST_F(CaptureMainTest, FailedStartWithAnyExceptionIsReportedLikeAnError) {
  env.failingStarts = 1;
  env.startFailsWithStdException = true;
  env.startFailure = "Plain failure.";
  EXPECT_EQ(run(start("s1", "j1")), (Lines{failed("Plain failure.", "s1"), completed("s1")}));
}

TEST_F(CaptureMainTest, FailedCleanUpAfterFailedStartEmitsNothingMore) {
  env.failingStarts = 1;
  env.failingStops = 1;
  EXPECT_EQ(run(start("s1", "j1") + kListDevices),
            (Lines{failed("The selected microphone is no longer available.", "s1"), kDevicesLine}));
  EXPECT_EQ(env.calls,
            (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1", "devices"}));
}

TEST_F(CaptureMainTest, StopWithTheActiveIdentifierEndsTheRecording) {
  EXPECT_EQ(run(start("s1", "j1") + stop("s1") + stop("s1")),
            (Lines{completed("s1"), failed(kNoActiveText, "s1")}));
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1"}));
}

TEST_F(CaptureMainTest, StopMatchesACanonicallyEquivalentIdentifier) {
  EXPECT_EQ(run(R"({"type":"start","sessionId":"caf\u00e9","jobId":"j"})"
                "\n"
                R"({"type":"stop","sessionId":"cafe\u0301"})"
                "\n"),
            Lines{completed("caf\xC3\xA9")});
}

TEST_F(CaptureMainTest, StopWhileIdleIsRefused) {
  EXPECT_EQ(run(stop("s1")), Lines{failed(kNoActiveText, "s1")});
}

struct RejectedStopCase {
  std::string name;
  std::string line;
  std::optional<std::string> session;
};

const RejectedStopCase kRejectedStops[] = {
    {"NoSession", R"({"type":"stop"})", {}},
    {"NullSession", R"({"type":"stop","sessionId":null})", {}},
    {"EmptySession", R"({"type":"stop","sessionId":""})", ""},
    {"OtherSession", R"({"type":"stop","sessionId":"s2"})", "s2"},
    {"OtherCase", R"({"type":"stop","sessionId":"S1"})", "S1"},
    {"Trailing space", R"({"type":"stop","sessionId":"s1 "})", "s1 "},
};

class RejectedStopTest : public CaptureMainTest,
                         public ::testing::WithParamInterface<RejectedStopCase> {};

TEST_P(RejectedStopTest, IsRefusedAndTheRecordingGoesOnUntilAMatchingStop) {
  EXPECT_EQ(run(start("s1", "j1") + GetParam().line + "\n" + stop("s1")),
            (Lines{failed(kNoActiveText, GetParam().session), completed("s1")}));
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, RejectedStopTest, ::testing::ValuesIn(kRejectedStops),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

TEST_F(CaptureMainTest, FailedStopReportsThenStopsAgainAndGivesTheSessionUp) {
  env.failingStops = 1;
  EXPECT_EQ(run(start("s1", "j1") + stop("s1") + stop("s1") + start("s2", "j2")),
            (Lines{failed("The stream refused to stop.", "s1"), completed("s1"),
                   failed(kNoActiveText, "s1"), completed("s2")}));
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "stop s1", "release s1",
                              "create s2", "start s2 j2 (none)", "stop s2", "release s2"}));
}

TEST_F(CaptureMainTest, FailedStopWhoseCleanUpFailsToo) {
  env.failingStops = 2;
  EXPECT_EQ(run(start("s1", "j1") + stop("s1") + stop("s1")),
            (Lines{failed("The stream refused to stop.", "s1"), failed(kNoActiveText, "s1")}));
  EXPECT_EQ(env.calls,
            (Lines{"create s1", "start s1 j1 (none)", "stop s1", "stop s1", "release s1"}));
}

// --- Lines that do not decode ---------------------------------------------------

TEST_F(CaptureMainTest, UndecodableLineWhileIdleIsReportedWithoutSession) {
  EXPECT_EQ(run("   \n" + kListDevices),
            (Lines{failed("The command is not valid JSON."), kDevicesLine}));
}

// The line names a session, but yields no command at all.
TEST_F(CaptureMainTest, UndecodableLineWhileRecordingEndsTheRecording) {
  EXPECT_EQ(run(start("s1", "j1") +
                R"({"type":"stop","sessionId":42})"
                "\n" +
                stop("s1") + start("s2", "j2")),
            (Lines{failed(R"(The command's \"sessionId\" is not a string.)"), completed("s1"),
                   failed(kNoActiveText, "s1"), completed("s2")}));
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1",
                              "create s2", "start s2 j2 (none)", "stop s2", "release s2"}));
}

TEST_F(CaptureMainTest, UndecodableLineWhoseCleanUpFailsEmitsNothingMore) {
  env.failingStops = 1;
  EXPECT_EQ(run(start("s1", "j1") + "[]\n" + stop("s1")),
            (Lines{failed("The command is not a JSON object."), failed(kNoActiveText, "s1")}));
}

TEST_F(CaptureMainTest, LinesAreFramedByAnyLineEnd) {
  EXPECT_EQ(run("\r\n"
                R"({"type":"start","sessionId":"s1","jobId":"j1"})"
                "\r\n\n\r"
                R"({"type":"stop","sessionId":"s1"})"
                "\r"
                R"({"type":"list_devices"})"),
            (Lines{completed("s1"), kDevicesLine}));
}

TEST_F(CaptureMainTest, ALineOfExactlyTheLimitIsDecoded) {
  std::string line = "{\"type\":\"list_devices\"}";
  line.resize(LineReader::kMaxLineBytes, ' ');
  EXPECT_EQ(run(line + "\n"), Lines{kDevicesLine});
}

TEST_F(CaptureMainTest, ALineOverTheLimitIsRefusedLikeAnUndecodableLine) {
  std::string line = "{\"type\":\"list_devices\"}";
  line.resize(LineReader::kMaxLineBytes + 1, ' ');
  EXPECT_EQ(run(start("s1", "j1") + line + "\n" + kListDevices),
            (Lines{failed("The command is longer than the limit of 1 MiB."), completed("s1"),
                   kDevicesLine}));
}

// --- End of input and read errors -------------------------------------------------

TEST_F(CaptureMainTest, EmptyInputGivesNoOutput) {
  EXPECT_EQ(run(""), Lines{});
  EXPECT_TRUE(env.calls.empty());
}

TEST_F(CaptureMainTest, BlankLinesGiveNoOutput) {
  EXPECT_EQ(run("\n\r\n\r\n\n"), Lines{});
}

TEST_F(CaptureMainTest, EndOfInputStopsTheActiveRecording) {
  EXPECT_EQ(run(start("s1", "j1")), Lines{completed("s1")});
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1"}));
}

TEST_F(CaptureMainTest, EndOfInputIgnoresAFailingStop) {
  env.failingStops = 1;
  EXPECT_EQ(run(start("s1", "j1")), Lines{});
  EXPECT_EQ(env.calls, (Lines{"create s1", "start s1 j1 (none)", "stop s1", "release s1"}));
}

TEST_F(CaptureMainTest, AnUnterminatedLastLineIsHandled) {
  EXPECT_EQ(run(start("s1", "j1") + R"({"type":"stop","sessionId":"s1"})"), Lines{completed("s1")});
}

TEST_F(CaptureMainTest, ReadErrorWhileIdleIsReportedOnce) {
  const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(runOn(fd), Lines{failed("The standard input could not be read: Is a directory.")});
  ::close(fd);
}

// A descriptor that yields `bytes` and then fails: one end of a loopback TCP
// connection whose other end sent the bytes and then reset the connection
// (a linger time of 0), so the read after the bytes fails with ECONNRESET.
class InputThatFailsAfter {
 public:
  explicit InputThatFailsAfter(std::string_view bytes) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    const int sender = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sender >= 0 && ::bind(listener, generic, sizeof address) == 0 &&
        ::listen(listener, 1) == 0 && ::getsockname(listener, generic, &length) == 0 &&
        ::connect(sender, generic, sizeof address) == 0) {
      fd_ = ::accept(listener, nullptr, nullptr);
    }
    ::close(listener);
    if (sender < 0) return;
    const linger reset{1, 0};
    if (fd_ < 0 || ::write(sender, bytes.data(), bytes.size()) != std::ssize(bytes) ||
        ::setsockopt(sender, SOL_SOCKET, SO_LINGER, &reset, sizeof reset) != 0) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
    }
    ::close(sender);
  }
  ~InputThatFailsAfter() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

TEST_F(CaptureMainTest, ReadErrorWhileRecordingIsReportedThenTheRecordingStops) {
  InputThatFailsAfter input(start("s1", "j1") + kListDevices);
  ASSERT_GE(input.fd(), 0);
  EXPECT_EQ(runOn(input.fd()),
            (Lines{kDevicesLine,
                   failed("The standard input could not be read: Connection reset by peer."),
                   completed("s1")}));
  EXPECT_EQ(env.calls,
            (Lines{"create s1", "start s1 j1 (none)", "devices", "stop s1", "release s1"}));
}

}  // namespace
}  // namespace mirevo::control
