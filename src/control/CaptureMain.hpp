// The agent's command loop: answers `--self-test`, or reads commands line by
// line, acts on each and owns the one recording session that may be active.
// A start or a stop is awaited before the next line is read, so commands take
// effect in the order they arrive. Every failure becomes a `failed` event; at
// the end of input (or a read error) the active session is stopped, and the
// result is always 0.
//
// Threads: `main` runs on the calling (main) thread, which also calls every
// session operation. The session emits its own events from its own queue.
#pragma once

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/CaptureSession.hpp"
#include "control/Command.hpp"
#include "control/Events.hpp"
#include "control/LineReader.hpp"
#include "control/UnicodeEquivalence.hpp"
#include "events/Output.hpp"
#include "platform/Error.hpp"

namespace mirevo::control {

inline constexpr std::string_view kInvalidStart =
    "Invalid start request or capture already active.";
inline constexpr std::string_view kNoActiveSession = "No active recording session.";
inline constexpr std::string_view kUnknownCommand = "Unknown capture command.";

// The description of any exception, for the `message` of a `failed` event.
inline std::string describe(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const platform::Error& e) {
    return e.localizedDescription();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "An unexpected error occurred.";
  }
}

template <CaptureSession S>
class CommandLoop {
 public:
  using Environment = typename S::Environment;

  explicit CommandLoop(Environment& env) : env_(env) {}

  // Handles every line of `inputFd` until its end or a read error.
  void run(int inputFd) {
    LineReader reader(inputFd);
    for (;;) {
      const auto result = reader.next();
      switch (result.outcome) {
        case LineReader::Outcome::line:
          handleLine(result.text);
          break;
        case LineReader::Outcome::lineTooLong:
          failWithoutCommand(std::string(result.text));
          break;
        case LineReader::Outcome::readError:
          Output::failure(result.text, std::nullopt);
          finish();
          return;
        case LineReader::Outcome::endOfInput:
          finish();
          return;
      }
    }
  }

  // Stops the active recording, if any, ignoring the outcome.
  void finish() {
    if (active_) stopIgnoringOutcome(*active_);
    active_.reset();
  }

 private:
  void handleLine(std::string_view line) {
    Command command;
    try {
      command = decodeCommand(line);
    } catch (...) {
      failWithoutCommand(describe(std::current_exception()));
      return;
    }
    if (command.type == "list_devices") {
      listDevices();
    } else if (command.type == "start") {
      start(command);
    } else if (command.type == "stop") {
      stop(command);
    } else {
      Output::failure(kUnknownCommand, std::nullopt);
    }
  }

  void listDevices() {
    try {
      Output::emit(devicesEvent(S::devices(env_)));
    } catch (...) {
      Output::failure(describe(std::current_exception()), std::nullopt);
    }
  }

  void start(const Command& command) {
    const auto present = [](const std::optional<std::string>& id) { return id && !id->empty(); };
    if (active_ || !present(command.sessionId) || !present(command.jobId)) {
      Output::failure(kInvalidStart, command.sessionId);
      return;
    }
    std::shared_ptr<S> capture;
    try {
      capture = std::make_shared<S>(*command.sessionId, env_);
      capture->start(*command.jobId, command.microphoneDeviceId);
    } catch (...) {
      // `capture` is empty when creating the session failed: nothing to clean up.
      failAndCleanUp(describe(std::current_exception()), command.sessionId, std::move(capture));
      return;
    }
    active_ = std::move(capture);
  }

  void stop(const Command& command) {
    if (!active_ || !command.sessionId ||
        !canonicallyEquivalent(*command.sessionId, active_->session())) {
      Output::failure(kNoActiveSession, command.sessionId);
      return;
    }
    try {
      active_->stop();
    } catch (...) {
      // The session is given up either way, after one more (ignored) stop.
      failAndCleanUp(describe(std::current_exception()), command.sessionId, std::move(active_));
    }
    active_.reset();
  }

  // A line that yields no command: no session in the event, and an active
  // recording ends.
  void failWithoutCommand(const std::string& message) {
    failAndCleanUp(message, std::nullopt, std::move(active_));
    active_.reset();
  }

  // The shared error path: `failed` first, then whatever the clean-up stop
  // emits itself; its outcome is ignored.
  static void failAndCleanUp(const std::string& message, const std::optional<std::string>& session,
                             std::shared_ptr<S> cleanUp) {
    Output::failure(message, session);
    if (cleanUp) stopIgnoringOutcome(*cleanUp);
  }

  static void stopIgnoringOutcome(S& capture) {
    try {
      capture.stop();
    } catch (...) {
    }
  }

  Environment& env_;
  std::shared_ptr<S> active_;
};

template <CaptureSession S>
struct CaptureMain {
  // `args` are the process arguments, the program path first; `inputFd` is
  // the command input (standard input in the agent). Returns the exit status,
  // which is always 0.
  static int main(std::span<const std::string> args, int inputFd, typename S::Environment& env) {
    // std::find, not std::ranges::find: libc++ before 15 lacks the latter.
    if (std::find(args.begin(), args.end(), "--self-test") != args.end()) {
      Output::emit(selfTestEvent());
      return 0;
    }
    CommandLoop<S> loop(env);
    try {
      loop.run(inputFd);
    } catch (...) {
      // Only exhausted memory gets here: the recording still ends properly and
      // the process normally.
      loop.finish();
    }
    return 0;
  }
};

}  // namespace mirevo::control
