#include "events/WaitForDescriptor.hpp"

#include <poll.h>

#include <cerrno>

namespace mirevo::events {

bool waitForDescriptor(int fd, short events) {
  pollfd ready = {fd, events, 0};
  for (;;) {
    const int count = ::poll(&ready, 1, -1);
    if (count > 0) return true;
    if (count < 0 && errno != EINTR) return false;
  }
}

}  // namespace mirevo::events
