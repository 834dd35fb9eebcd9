// Peak resident memory, in KiB on every system.
//
// Threads: plain functions; any thread.
#pragma once

#include <sys/resource.h>

namespace mirevo::testing {

// The peak resident memory that getrusage or wait4 reported: Linux counts
// ru_maxrss in KiB, macOS in bytes.
long peakResidentKiB(const rusage& usage);

// This process's own peak so far.
long ownPeakResidentKiB();

}  // namespace mirevo::testing
