// A connection to a private server whose processes are then paused: a server
// that answered and then hangs holds a wait no longer than the end the
// caller gave its waits.
#include "platform/pulse/PulseConnection.hpp"

#include <gtest/gtest.h>
#include <pulse/introspect.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <limits>
#include <memory>
#include <vector>

#include "PrivatePulse.hpp"
#include "platform/Error.hpp"

namespace mirevo::platform::pulse {
namespace {

using namespace std::chrono_literals;
using testing::PrivatePulse;

// The server's processes, as the private server's pid files list them.
std::vector<pid_t> serverProcesses(const PrivatePulse& server) {
  std::vector<pid_t> pids;
  for (const char* file : {"/pulse.pid", "/pipewire.pids"}) {
    std::ifstream in(server.folder() + file);
    for (pid_t pid = 0; in >> pid;) pids.push_back(pid);
  }
  return pids;
}

// Pauses the processes while it lives.
class Paused {
 public:
  explicit Paused(std::vector<pid_t> pids) : pids_(std::move(pids)) {
    for (const pid_t pid : pids_) ::kill(pid, SIGSTOP);
  }
  ~Paused() {
    for (const pid_t pid : pids_) ::kill(pid, SIGCONT);
  }
  Paused(const Paused&) = delete;
  Paused& operator=(const Paused&) = delete;

 private:
  std::vector<pid_t> pids_;
};

pa_operation* askServerInfo(PulseConnection& connection) {
  return pa_context_get_server_info(
      connection.context(), [](pa_context*, const pa_server_info*, void*) {}, nullptr);
}

TEST(PulseConnectionWaits, AServerThatHangsHoldsAWaitNoLongerThanTheWaitsEnd) {
  if (!testing::pulseaudioInstalled()) GTEST_SKIP() << "pulseaudio, pactl, pacat or sox is missing";
  PrivatePulse server;
  ASSERT_TRUE(server.running()) << "the private audio server did not start"
                                << ": " << server.startFailure();
  const auto pids = serverProcesses(server);
  ASSERT_FALSE(pids.empty()) << "no pid file in " << server.folder();

  PulseConnection connection("mirevo-test", 5.0);
  PulseConnection::Lock lock(connection);
  connection.endWaitsIn(0.5);
  {
    Paused paused(pids);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(connection.await(askServerInfo(connection)), Error);
    // Given its own 10 s, the wait would still go on.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    // Once the end has passed, a wait throws at once.
    EXPECT_THROW(connection.await(askServerInfo(connection)), Error);
  }
  // Without an end, waits take the time they are given, and the server that
  // runs again answers.
  connection.endWaitsIn(std::numeric_limits<double>::infinity());
  EXPECT_NO_THROW(connection.await(askServerInfo(connection)));
}

}  // namespace
}  // namespace mirevo::platform::pulse
