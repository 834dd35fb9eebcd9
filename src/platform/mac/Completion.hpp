// Awaiting a completion handler with a deadline. The handler stores its answer
// in an Answer that it shares with the waiter, then signals; the waiter
// returns when signalled or throws a timeout error when the deadline passes
// first. A handler that comes after the deadline writes into the shared
// Answer, which nobody reads any more.
//
// Objective-C++ only. Threads: the handler on any thread; the waiter on one.
#pragma once

#include <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <string_view>

namespace mirevo::platform::mac {

// A person may be answering a system prompt: microphone access, and the
// screen-recording permission that the first shareable-content request asks
// for.
inline constexpr double kPromptTimeoutSeconds = 120.0;
// Starting and stopping a capture stream.
inline constexpr double kCaptureTimeoutSeconds = 30.0;

class Completion {
 public:
  Completion() : semaphore_(dispatch_semaphore_create(0)) {}
  void signal() const { dispatch_semaphore_signal(semaphore_); }
  // Returns once signalled; throws the platform's Error (a timeout naming
  // `operation`) when `seconds` pass first.
  void await(std::string_view operation, double seconds) const;

 private:
  dispatch_semaphore_t semaphore_;
};

template <class Value>
struct Answer {
  Completion completion;
  Value value{};
  NSError* error = nil;
};

}  // namespace mirevo::platform::mac
