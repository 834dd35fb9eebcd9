// Signal dispositions the agent needs from the start.
//
// Threads: the process entry, on the main thread, before anything else runs.
#pragma once

namespace mirevo::control {

// A parent that closes the agent's standard output must not kill it: writes
// then fail with EPIPE (and the emitter drops the line) instead of raising
// SIGPIPE, and the agent goes on until the end of its input.
void ignoreBrokenPipe();

}  // namespace mirevo::control
