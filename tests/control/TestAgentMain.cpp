// The agent's process entry with the fake session in place of the real one:
// lets the process-level tests check start-up, exit status and signal
// handling without audio hardware.
#include <unistd.h>

#include <string>
#include <vector>

#include "FakeCapture.hpp"
#include "control/CaptureMain.hpp"
#include "control/ProcessSignals.hpp"

int main(int argc, char** argv) {
  mirevo::control::ignoreBrokenPipe();
  const std::vector<std::string> args(argv, argv + argc);
  mirevo::testing::FakeEnvironment env;
  env.devices = {
      {{"id", "fake-mic"}, {"isDefault", true}, {"kind", "audioinput"}, {"label", "Fake"}}};
  return mirevo::control::CaptureMain<mirevo::testing::FakeCapture>::main(args, STDIN_FILENO, env);
}
