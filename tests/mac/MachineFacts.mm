// Prints what this Mac offers a recording, as the agent meets it: the macOS
// version, the active displays, the audio input devices the agent lists, and
// both permission states of the app that runs it. CI prints these before the
// tests, so that a skipped or failed recording test can be read against them.
// Always exits with status 0: it reports, it does not judge.
#include <chrono>
#include <cstdio>
#include <string>

#include "AgentProcess.hpp"
#include "MacMachine.hpp"
#include "RecordingPermissions.hpp"

namespace {

std::string listedDevices() {
  mirevo::testing::AgentProcess agent(MIREVO_SHIPPED_AGENT_PATH);
  if (!agent.started()) return "(the agent did not start)";
  agent.send({{"type", "list_devices"}});
  const auto devices = agent.next(std::chrono::seconds(20));
  agent.finish(std::chrono::seconds(20));
  return devices ? devices->dump() : "(no answer within 20 s)";
}

}  // namespace

int main() {
  using namespace mirevo::testing;
  std::printf("macOS: %s\n", macOSVersion().c_str());
  std::string displays;
  for (const std::uint32_t id : activeDisplays()) {
    displays += (displays.empty() ? "" : ", ") + std::to_string(id);
  }
  std::printf("active displays (main first): %s\n", displays.empty() ? "none" : displays.c_str());
  std::printf("default audio input device: %s\n", hasAudioInput() ? "yes" : "none");
  std::printf("the agent's list_devices: %s\n", listedDevices().c_str());
  std::printf("permissions of the app that runs this: %s\n", recordingPermissionStates().c_str());
  return 0;
}
