#include "control/ProcessSignals.hpp"

#include <csignal>

namespace mirevo::control {

void ignoreBrokenPipe() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace mirevo::control
