// The process entry of `mirevo-capture`: the platform it is built for (macOS
// or Linux) and the real recording session behind the command loop.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "capture/Capture.hpp"
#include "control/CaptureMain.hpp"
#include "control/ProcessSignals.hpp"
#if defined(__APPLE__)
#include "platform/mac/MacPlatform.hpp"
using NativePlatform = mirevo::platform::mac::MacPlatform;
#else
#include "platform/pulse/PulsePlatform.hpp"
using NativePlatform = mirevo::platform::pulse::PulsePlatform;
#endif

namespace {

// The parent reads only standard output; anything a library prints on
// standard error (libpulse and the system frameworks can) is sent nowhere,
// so the agent never writes there. Started with descriptor 2 (or 0 or 1)
// closed, /dev/null takes the lowest free number and keeps it, open for
// reading and writing to serve as any of the three: a number left free would
// go to the next file or socket opened, and a socket to the audio server at
// number 2 would receive the library's messages.
void silenceStandardError() {
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull < 0) return;
  if (devNull != STDERR_FILENO) ::dup2(devNull, STDERR_FILENO);
  if (devNull > STDERR_FILENO) ::close(devNull);
}

}  // namespace

int main(int argc, char** argv) {
  mirevo::control::ignoreBrokenPipe();
  silenceStandardError();
  const std::vector<std::string> args(argv, argv + argc);
  NativePlatform native;
  mirevo::control::CaptureMain<mirevo::Capture>::main(args, STDIN_FILENO, native.platform());
  return 0;
}
