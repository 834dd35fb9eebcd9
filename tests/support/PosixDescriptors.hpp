// Descriptors for the tests, made with POSIX calls only, each with the
// platform's own way where POSIX has none (reading another process's
// descriptor). Every descriptor made here is close-on-exec.
//
// Threads: plain functions; any thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace mirevo::testing {

// An unlinked temporary file, read-write: a file of its own that vanishes
// with its last descriptor. -1 when it cannot be made.
int anonymousFile();

// A pipe, both ends close-on-exec and, when asked, non-blocking. False when
// it cannot be made (nothing is left open then).
bool makePipe(int fds[2], bool nonBlocking = false);

// What descriptor `fd` of process `pid` refers to: its path, or nothing when
// the descriptor is closed or the system cannot tell.
std::optional<std::string> descriptorPath(pid_t pid, int fd);

}  // namespace mirevo::testing
