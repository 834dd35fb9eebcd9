#include "platform/mac/DispatchCompletion.hpp"

#include <cstdint>

namespace mirevo::platform::mac {

bool DispatchCompletion::waitFor(double seconds) {
  const auto nanoseconds = static_cast<std::int64_t>(seconds * static_cast<double>(NSEC_PER_SEC));
  return dispatch_semaphore_wait(semaphore_, dispatch_time(DISPATCH_TIME_NOW, nanoseconds)) == 0;
}

}  // namespace mirevo::platform::mac
