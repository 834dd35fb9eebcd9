#include "platform/mac/Completion.hpp"

#include "platform/mac/MacErrors.hpp"

namespace mirevo::platform::mac {

void Completion::await(std::string_view operation, double seconds) const {
  const auto nanoseconds = static_cast<std::int64_t>(seconds * static_cast<double>(NSEC_PER_SEC));
  if (dispatch_semaphore_wait(semaphore_, dispatch_time(DISPATCH_TIME_NOW, nanoseconds)) != 0) {
    throw timeoutError(operation, seconds);
  }
}

}  // namespace mirevo::platform::mac
