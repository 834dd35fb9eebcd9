// Waiting on a descriptor that the parent may have made non-blocking.
//
// Threads: any.
#pragma once

namespace mirevo::events {

// Blocks until `fd` is ready for `events` (POLLIN or POLLOUT), or has ended;
// false if it cannot be waited on.
bool waitForDescriptor(int fd, short events);

}  // namespace mirevo::events
