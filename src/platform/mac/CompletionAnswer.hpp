// Awaiting a completion handler with a deadline, and what its answer becomes.
// The handler stores its answer (a value, the system's error, or neither)
// and signals; the waiter returns the value or throws: a timeout when the
// deadline passes first, the system's error, or "no answer" when the handler
// brought neither. A handler that comes after the deadline writes into the
// shared answer, which nobody reads any more.
//
// Threads: the handler on any thread, the waiter on one; the completion's
// signal orders the handler's writes before the waiter's reads.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/Error.hpp"
#include "platform/mac/MacErrors.hpp"

namespace mirevo::platform::mac {

// A person may be answering a system prompt: microphone access, and the
// screen-recording permission that the first shareable-content request asks
// for.
inline constexpr double kPromptTimeoutSeconds = 120.0;
// Starting and stopping a capture stream.
inline constexpr double kCaptureTimeoutSeconds = 30.0;

// A one-time signal with a waiter that gives up (a dispatch semaphore on the
// Mac, DispatchCompletion).
class Completion {
 public:
  virtual ~Completion() = default;
  virtual void signal() = 0;
  // True once signalled; false when `seconds` passed first.
  virtual bool waitFor(double seconds) = 0;
};

// Makes a completion for each answer awaited.
using CompletionFactory = std::function<std::shared_ptr<Completion>()>;

template <class Value>
class CompletionAnswer {
 public:
  explicit CompletionAnswer(std::shared_ptr<Completion> completion)
      : completion_(std::move(completion)) {}

  // From the handler: its answer, then the waiter is woken.
  void answer(std::optional<Value> value, std::optional<Error> error) {
    value_ = std::move(value);
    error_ = std::move(error);
    completion_->signal();
  }

  // Waits for the answer: false when `seconds` passed first.
  bool arrived(double seconds) const { return completion_->waitFor(seconds); }
  // Once arrived: throws the system's error, if it answered with one.
  void throwError() const {
    if (error_) throw *error_;
  }
  // Waits for the answer; throws a timeout naming `operation` when `seconds`
  // pass first, then the system's error.
  void await(std::string_view operation, double seconds) const {
    if (!arrived(seconds)) throw timeoutError(operation, seconds);
    throwError();
  }

  // As await, then the value; throws "no answer" when the handler brought
  // neither a value nor an error.
  Value value(std::string_view operation, double seconds) const {
    await(operation, seconds);
    if (!value_) throw noAnswerError(operation);
    return *value_;
  }

 private:
  std::shared_ptr<Completion> completion_;
  std::optional<Value> value_;
  std::optional<Error> error_;
};

// An answer that is only a success or the system's error.
struct Done {};
using DoneAnswer = CompletionAnswer<Done>;

}  // namespace mirevo::platform::mac
