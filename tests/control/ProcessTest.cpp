// Runs agent executables as child processes, the way the parent application
// does, and checks what only a whole process shows: start-up arguments, exit
// status, standard error, signals and memory. Each executable in
// MIREVO_AGENT_PATHS ('|'-separated) is checked alike.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "AgentProcess.hpp"
#include "PosixDescriptors.hpp"
#ifdef __APPLE__
#include "RecordingPermissions.hpp"
#endif

namespace {

using mirevo::testing::AgentProcess;
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

using mirevo::testing::AgentProcess;

// Reads the agent's output to its end and waits for it to exit on its own,
// within the limit, with status 0 and nothing on standard error.
void expectCleanExit(AgentProcess& agent) {
  EXPECT_EQ(agent.waitForExit(kTimeout), std::optional<int>(0))
      << "did not exit on its own with status 0 within the time limit";
  EXPECT_EQ(agent.standardError(), "");
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

// Why a start sent to `agent` would wait on a person, in one line; nothing
// when it would not. On a Mac the shipped agent's start asks for microphone
// and screen-recording access, and a prompt nobody answers would hold the
// test past its limit; elsewhere nothing asks.
std::optional<std::string> whyAStartWouldWait([[maybe_unused]] const std::string& agent) {
#if defined(__APPLE__) && defined(MIREVO_SHIPPED_AGENT_PATH)
  if (agent == MIREVO_SHIPPED_AGENT_PATH) return mirevo::testing::missingRecordingPermission();
#endif
  return std::nullopt;
}

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
    AgentProcess agent(GetParam(), {.argv = argv, .keepInputReadable = true});
    ASSERT_TRUE(agent.started());
    ASSERT_TRUE(agent.sendBytes(commands));  // input stays open: the agent must not wait for it
    expectCleanExit(agent);
    EXPECT_EQ(agent.output(), kSelfTestLine);
    EXPECT_EQ(agent.unreadInput(), commands);
  }
}

TEST_P(AgentProcessTest, EmptyInputGivesNoOutput) {
  AgentProcess agent(GetParam(), {.argv = {"mirevo-capture"}});
  ASSERT_TRUE(agent.started());
  agent.closeInput();
  expectCleanExit(agent);
  EXPECT_EQ(agent.output(), "");
}

// Whatever the commands do, every output line is one JSON object with a type,
// ended by a line feed, and nothing reaches standard error.
TEST_P(AgentProcessTest, ConversationWritesOnlyEventLinesAndNothingToStandardError) {
  if (const auto reason = whyAStartWouldWait(GetParam())) GTEST_SKIP() << *reason;
  AgentProcess agent(GetParam(), {.argv = {"mirevo-capture", "--unknown-flag"}});
  ASSERT_TRUE(agent.started());
  ASSERT_TRUE(
      agent.sendBytes("{\"type\":\"list_devices\"}\r\n   \n[1]\n{\"type\":\"pause\"}\r"
                      "{\"type\":\"stop\",\"sessionId\":\"none\"}\n"
                      "{\"type\":\"start\",\"sessionId\":\"s1\",\"jobId\":\"j1\"}\n"
                      "{\"type\":\"stop\",\"sessionId\":\"s1\"}\n\xFF\n"));
  agent.closeInput();
  expectCleanExit(agent);
  const std::string& out = agent.output();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');
  const auto lines = linesOf(out);
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
  if (const auto reason = whyAStartWouldWait(GetParam())) GTEST_SKIP() << *reason;
  AgentProcess agent(GetParam(), {.argv = {"mirevo-capture"}});
  ASSERT_TRUE(agent.started());
  agent.closeOutput();
  ASSERT_TRUE(
      agent.sendBytes("{\"type\":\"list_devices\"}\n{\"type\":\"nonsense\"}\n"
                      "{\"type\":\"start\",\"sessionId\":\"s1\",\"jobId\":\"j1\"}\n"
                      "{\"type\":\"stop\",\"sessionId\":\"s1\"}\n{\"type\":\"list_devices\"}\n"));
  agent.closeInput();
  expectCleanExit(agent);
}

// An endless line must not make the agent buffer it: the agent refuses the
// line, still answers the next one, and its peak memory stays far below the
// line's size.
TEST_P(AgentProcessTest, AHugeLineIsRefusedWithinBoundedMemory) {
  constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  constexpr std::size_t kChunks = 256;
  constexpr long kPeakResidentLimitKiB = 96 * 1024;

  AgentProcess agent(GetParam(), {.argv = {"mirevo-capture"}});
  ASSERT_TRUE(agent.started());
  std::thread feeder([&agent] {
    const std::string chunk(kChunkBytes, 'x');
    bool open = agent.sendBytes("{\"type\":\"list_devices\",\"pad\":\"");
    for (std::size_t i = 0; open && i < kChunks; ++i) open = agent.sendBytes(chunk);
    if (open) agent.sendBytes("\"}\n{\"type\":\"list_devices\"}\n");
    agent.closeInput();
  });
  expectCleanExit(agent);
  feeder.join();
  const auto lines = linesOf(agent.output());
  ASSERT_EQ(lines.size(), 2u) << agent.output().substr(0, 1000);
  EXPECT_EQ(lines[0],
            R"({"message":"The command is longer than the limit of 1 MiB.","type":"failed"})");
  EXPECT_EQ(nlohmann::json::parse(lines[1])["type"], "devices");
  EXPECT_LT(agent.peakResidentKiB(), kPeakResidentLimitKiB);
}

// Started with descriptor 2 closed, the agent must not leave that number free:
// the next descriptor it opens (a socket to the audio server, for
// list_devices) would take it and receive what a library writes to stderr.
#ifdef MIREVO_SHIPPED_AGENT_PATH
TEST(ShippedAgentProcess, StartedWithoutStandardErrorKeepsDescriptorTwoOnDevNull) {
  mirevo::testing::AgentLaunch launch;
  launch.closeStandardError = true;
  AgentProcess agent(MIREVO_SHIPPED_AGENT_PATH, launch);
  ASSERT_TRUE(agent.started());
  agent.send({{"type", "list_devices"}});
  const auto devices = agent.next(kTimeout);
  ASSERT_TRUE(devices);
  EXPECT_EQ(devices->value("type", ""), "devices");
  EXPECT_EQ(mirevo::testing::descriptorPath(agent.pid(), STDERR_FILENO),
            std::optional<std::string>("/dev/null"))
      << "descriptor 2 is closed or elsewhere";
  EXPECT_EQ(agent.finish(kTimeout), std::optional<int>(0));
}
#endif

INSTANTIATE_TEST_SUITE_P(Agents, AgentProcessTest, ::testing::ValuesIn(agentPaths()),
                         [](const auto& info) {
                           std::string name = info.param.substr(info.param.rfind('/') + 1);
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
