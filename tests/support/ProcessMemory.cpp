#include "ProcessMemory.hpp"

namespace mirevo::testing {

long peakResidentKiB(const rusage& usage) {
#if defined(__APPLE__)
  return usage.ru_maxrss / 1024;
#else
  return usage.ru_maxrss;
#endif
}

long ownPeakResidentKiB() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return peakResidentKiB(usage);
}

}  // namespace mirevo::testing
