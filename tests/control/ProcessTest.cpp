// Runs agent executables as child processes, the way the parent application
// does, and checks what only a whole process shows: start-up arguments, exit
// status, standard error, signals and memory. Each executable in
// MIREVO_AGENT_PATHS ('|'-separated) is checked alike.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
// Bounds every wait: a hanging agent fails the test instead of stalling it.
constexpr auto kTimeout = std::chrono::seconds(20);

std::vector<std::string> agentPaths() {
  std::vector<std::string> paths;
  const std::string all = MIREVO_AGENT_PATHS;
  std::size_t begin = 0;
  for (std::size_t end; begin <= all.size(); begin = end + 1) {
    end = all.find('|', begin);
    if (end == std::string::npos) end = all.size();
    if (end > begin) paths.push_back(all.substr(begin, end - begin));
  }
  return paths;
}

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

struct Outcome {
  std::string out;
  std::string err;
  bool exited = false;  // on its own, within the time limit
  int status = -1;      // the raw wait status
  long peakResidentKiB = 0;
};

struct SpawnOptions {
  // Keeps this process's copy of the read end of the agent's stdin, so that
  // what the agent left unread can be read back.
  bool keepInputReadable = false;
  // Starts the agent with descriptor 2 closed instead of on a pipe.
  bool closeStandardError = false;
};

// One agent process with its three standard streams connected to pipes. The
// child starts with the default action for SIGPIPE, whatever this process
// does, so the agent must set up its own handling.
class AgentProcess {
 public:
  AgentProcess(const std::string& path, std::vector<std::string> argv, SpawnOptions options = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (options.closeStandardError) {
      posix_spawn_file_actions_addclose(&actions, STDERR_FILENO);
    } else {
      posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> pointers;
    for (auto& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    if (::posix_spawn(&pid_, path.c_str(), &actions, &attributes, pointers.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    output_ = out[0];
    errors_ = err[0];
    inputReadEnd_ = in[0];
    if (!options.keepInputReadable) closeFd(inputReadEnd_);
  }

  ~AgentProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int* fd : {&input_, &output_, &errors_, &inputReadEnd_}) closeFd(*fd);
  }

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  int input() const { return input_; }
  bool send(std::string_view bytes) { return writeAll(input_, bytes); }
  void closeInput() { closeFd(input_); }
  void closeOutput() { closeFd(output_); }

  // Reads standard output and error to their ends and collects the exit
  // status; kills the agent when the time limit passes first.
  Outcome finish() {
    Outcome outcome;
    const auto deadline = Clock::now() + kTimeout;
    while ((output_ >= 0 || errors_ >= 0) && Clock::now() < deadline) {
      pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
      if (::poll(fds, 2, millisecondsLeft(deadline)) <= 0) continue;
      drain(fds[0], output_, outcome.out);
      drain(fds[1], errors_, outcome.err);
    }
    outcome.exited = waitForExit(deadline, outcome);
    return outcome;
  }

  // The next line of standard output, without its line feed; none when the
  // output ends or the time limit passes first.
  std::optional<std::string> readLine() {
    const auto deadline = Clock::now() + kTimeout;
    std::size_t end;
    while ((end = unreadOutput_.find('\n')) == std::string::npos && output_ >= 0 &&
           Clock::now() < deadline) {
      pollfd polled = {output_, POLLIN, 0};
      if (::poll(&polled, 1, millisecondsLeft(deadline)) > 0) drain(polled, output_, unreadOutput_);
    }
    if (end == std::string::npos) return std::nullopt;
    std::string line = unreadOutput_.substr(0, end);
    unreadOutput_.erase(0, end + 1);
    return line;
  }

  // What is still unread in the agent's standard input.
  std::string unreadInput() {
    std::string unread;
    ::fcntl(inputReadEnd_, F_SETFL, O_NONBLOCK);
    char chunk[4096];
    for (ssize_t got; (got = ::read(inputReadEnd_, chunk, sizeof chunk)) > 0;) {
      unread.append(chunk, static_cast<std::size_t>(got));
    }
    return unread;
  }

 private:
  static void drain(const pollfd& polled, int& fd, std::string& into) {
    if (fd < 0 || polled.revents == 0) return;
    char chunk[65536];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0) {
      into.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      closeFd(fd);
    }
  }

  bool waitForExit(Clock::time_point deadline, Outcome& outcome) {
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidFd >= 0) {
      pollfd exited = {pidFd, POLLIN, 0};
      ::poll(&exited, 1, millisecondsLeft(deadline));
      ::close(pidFd);
    }
    rusage usage{};
    const bool done = ::wait4(pid_, &outcome.status, WNOHANG, &usage) == pid_;
    if (!done) {
      ::kill(pid_, SIGKILL);
      ::wait4(pid_, &outcome.status, 0, &usage);
    }
    outcome.peakResidentKiB = usage.ru_maxrss;
    reaped_ = true;
    return done;
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  int inputReadEnd_ = -1;
  std::string unreadOutput_;  // read by readLine, not yet returned
};

void expectCleanExit(const Outcome& outcome) {
  EXPECT_TRUE(outcome.exited) << "still running after the time limit";
  EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0)
      << "wait status " << outcome.status;
  EXPECT_EQ(outcome.err, "");
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

const std::string kSelfTestLine =
    R"({"minimumMacOS":"15.0","platform":"darwin","protocolVersion":1,"type":"self_test"})"
    "\n";

class AgentProcessTest : public ::testing::TestWithParam<std::string> {
 protected:
  // Writing to an agent that has already gone must fail the write, not this
  // test process.
  void SetUp() override { ::signal(SIGPIPE, SIG_IGN); }
};

TEST_P(AgentProcessTest, SelfTestInAnyArgumentPositionIgnoresWaitingCommands) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {"--self-test"}, {"agent", "--self-test"}, {"agent", "x", "--self-test", "y"}};
  const std::string commands = "{\"type\":\"list_devices\"}\n";
  for (const auto& argv : argumentLists) {
    SCOPED_TRACE(argv.size());
    AgentProcess agent(GetParam(), argv, {.keepInputReadable = true});
    ASSERT_TRUE(agent.started());
    ASSERT_TRUE(agent.send(commands));  // input stays open: the agent must not wait for it
    const Outcome outcome = agent.finish();
    expectCleanExit(outcome);
    EXPECT_EQ(outcome.out, kSelfTestLine);
    EXPECT_EQ(agent.unreadInput(), commands);
  }
}

TEST_P(AgentProcessTest, EmptyInputGivesNoOutput) {
  AgentProcess agent(GetParam(), {"mirevo-capture"});
  ASSERT_TRUE(agent.started());
  agent.closeInput();
  const Outcome outcome = agent.finish();
  expectCleanExit(outcome);
  EXPECT_EQ(outcome.out, "");
}

// Whatever the commands do, every output line is one JSON object with a type,
// ended by a line feed, and nothing reaches standard error.
TEST_P(AgentProcessTest, ConversationWritesOnlyEventLinesAndNothingToStandardError) {
  AgentProcess agent(GetParam(), {"mirevo-capture", "--unknown-flag"});
  ASSERT_TRUE(agent.started());
  ASSERT_TRUE(
      agent.send("{\"type\":\"list_devices\"}\r\n   \n[1]\n{\"type\":\"pause\"}\r"
                 "{\"type\":\"stop\",\"sessionId\":\"none\"}\n"
                 "{\"type\":\"start\",\"sessionId\":\"s1\",\"jobId\":\"j1\"}\n"
                 "{\"type\":\"stop\",\"sessionId\":\"s1\"}\n\xFF\n"));
  agent.closeInput();
  const Outcome outcome = agent.finish();
  expectCleanExit(outcome);
  ASSERT_FALSE(outcome.out.empty());
  EXPECT_EQ(outcome.out.back(), '\n');
  const auto lines = linesOf(outcome.out);
  for (const auto& line : lines) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(event.is_object() && event.contains("type") && event["type"].is_string()) << line;
    EXPECT_EQ(line.find('\r'), std::string::npos);
  }
  EXPECT_EQ(nlohmann::json::parse(lines.front())["type"], "devices");
}

// The parent may close its end of the agent's standard output. The agent's
// writes then fail; it must neither die of SIGPIPE nor stop reading commands.
TEST_P(AgentProcessTest, ClosedOutputDoesNotKillTheAgent) {
  AgentProcess agent(GetParam(), {"mirevo-capture"});
  ASSERT_TRUE(agent.started());
  agent.closeOutput();
  ASSERT_TRUE(
      agent.send("{\"type\":\"list_devices\"}\n{\"type\":\"nonsense\"}\n"
                 "{\"type\":\"start\",\"sessionId\":\"s1\",\"jobId\":\"j1\"}\n"
                 "{\"type\":\"stop\",\"sessionId\":\"s1\"}\n{\"type\":\"list_devices\"}\n"));
  agent.closeInput();
  expectCleanExit(agent.finish());
}

// An endless line must not make the agent buffer it: the agent refuses the
// line, still answers the next one, and its peak memory stays far below the
// line's size.
TEST_P(AgentProcessTest, AHugeLineIsRefusedWithinBoundedMemory) {
  constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  constexpr std::size_t kChunks = 256;
  constexpr long kPeakResidentLimitKiB = 96 * 1024;

  AgentProcess agent(GetParam(), {"mirevo-capture"});
  ASSERT_TRUE(agent.started());
  std::thread feeder([&agent] {
    const std::string chunk(kChunkBytes, 'x');
    bool open = agent.send("{\"type\":\"list_devices\",\"pad\":\"");
    for (std::size_t i = 0; open && i < kChunks; ++i) open = agent.send(chunk);
    if (open) agent.send("\"}\n{\"type\":\"list_devices\"}\n");
    agent.closeInput();
  });
  const Outcome outcome = agent.finish();
  feeder.join();
  expectCleanExit(outcome);
  const auto lines = linesOf(outcome.out);
  ASSERT_EQ(lines.size(), 2u) << outcome.out.substr(0, 1000);
  EXPECT_EQ(lines[0],
            R"({"message":"The command is longer than the limit of 1 MiB.","type":"failed"})");
  EXPECT_EQ(nlohmann::json::parse(lines[1])["type"], "devices");
  EXPECT_LT(outcome.peakResidentKiB, kPeakResidentLimitKiB);
}

// Started with descriptor 2 closed, the agent must not leave that number free:
// the next descriptor it opens (a socket to the audio server, for
// list_devices) would take it and receive what a library writes to stderr.
TEST(ShippedAgentProcess, StartedWithoutStandardErrorKeepsDescriptorTwoOnDevNull) {
  ::signal(SIGPIPE, SIG_IGN);
  AgentProcess agent(MIREVO_SHIPPED_AGENT_PATH, {"mirevo-capture"}, {.closeStandardError = true});
  ASSERT_TRUE(agent.started());
  ASSERT_TRUE(agent.send("{\"type\":\"list_devices\"}\n"));
  const auto devices = agent.readLine();
  ASSERT_TRUE(devices);
  EXPECT_EQ(nlohmann::json::parse(*devices)["type"], "devices");
  std::error_code error;
  const auto target = std::filesystem::read_symlink(
      "/proc/" + std::to_string(agent.pid()) + "/fd/" + std::to_string(STDERR_FILENO), error);
  EXPECT_FALSE(error) << "descriptor 2 is closed: " << error.message();
  EXPECT_EQ(target, "/dev/null");
  agent.closeInput();
  const Outcome outcome = agent.finish();
  EXPECT_TRUE(outcome.exited && WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0);
}

INSTANTIATE_TEST_SUITE_P(Agents, AgentProcessTest, ::testing::ValuesIn(agentPaths()),
                         [](const auto& info) {
                           std::string name = info.param.substr(info.param.rfind('/') + 1);
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
