// A Completion on a dispatch semaphore: what awaits the system's completion
// handlers (CompletionAnswer) with a deadline.
//
// Objective-C++ only. Threads: signal from any thread; wait on one.
#pragma once

#include <dispatch/dispatch.h>

#include <memory>

#include "platform/mac/CompletionAnswer.hpp"

namespace mirevo::platform::mac {

class DispatchCompletion final : public Completion {
 public:
  DispatchCompletion() : semaphore_(dispatch_semaphore_create(0)) {}
  void signal() override { dispatch_semaphore_signal(semaphore_); }
  bool waitFor(double seconds) override;

  static std::shared_ptr<Completion> make() { return std::make_shared<DispatchCompletion>(); }

 private:
  dispatch_semaphore_t semaphore_;
};

}  // namespace mirevo::platform::mac
