// One connection to the audio server: a threaded libpulse main loop and a
// context on it. Connecting never spawns a server, and every wait here also
// ends when the context goes bad or a deadline passes, so a server that dies
// or stalls mid-operation never hangs the caller.
//
// The context runs on a BatchedLoopApi over the loop: the connection's
// readers take what arrives when its batch ends, and say whether what they read
// may wait for the rest of a batch period. A wait for the server's answer
// lets nothing wait.
//
// Threads: construct and destroy off the loop thread. Every other call, and
// every use of context(), needs the loop's lock (a Lock, or being inside a
// libpulse callback, which runs on the loop thread with the lock held).
#pragma once

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/pulse/BatchedLoopApi.hpp"

namespace mirevo::platform::pulse {

class PulseConnection {
 public:
  // Connects to the server libpulse's configuration names and waits until
  // the context is ready, at most `timeoutSeconds`. Throws the platform's
  // Error with libpulse's text.
  explicit PulseConnection(const char* clientName, double timeoutSeconds = kTimeoutSeconds);
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Holds the loop's lock; a no-op on the loop thread, which holds it already
  // whenever it runs our code.
  class Lock {
   public:
    explicit Lock(const PulseConnection& connection);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* locked_;
  };

  pa_context* context() const { return context_; }
  // Whether the server may drop audio from a record stream it has counted:
  // PipeWire's pulse server drops whole processing cycles under load. A
  // classic PulseAudio server never does (it would overrun the stream's
  // buffer, seconds of it, first).
  bool dropsCycles() const { return dropsCycles_; }
  bool inLoopThread() const;
  // libpulse's error code for the context's last failure.
  int errorCode() const;

  // Wakes waiters; callbacks that change what a wait looks at call it.
  void signal();
  // Waits, lock held, until `done` is true. Throws the context's error when
  // the context goes bad first, and a timeout error after `timeoutSeconds`,
  // or sooner at the waits' end (endWaitsIn).
  void waitUntil(const std::function<bool()>& done, double timeoutSeconds = kTimeoutSeconds);
  // Waits for `operation` to finish and unrefs it; throws as waitUntil, and
  // the context's error when libpulse could not start it (null).
  void await(pa_operation* operation, double timeoutSeconds = kTimeoutSeconds);

  // Waits for the server to answer, so that everything it sent before has
  // arrived (and none of it waits for a batch period any more). Throws as
  // await.
  void catchUp(double timeoutSeconds = kTimeoutSeconds);

  // Told, on the loop thread, when the context fails or terminates on its own.
  void onFailure(std::function<void(int code)> handler) { failureHandler_ = std::move(handler); }
  // Asks the server to tell of changes to the facilities in `mask` and waits
  // until it has agreed; `handler` is told of each, on the loop thread.
  // Throws as await.
  using ChangeHandler =
      std::function<void(pa_subscription_event_type_t event, std::uint32_t index)>;
  void subscribe(pa_subscription_mask_t mask, ChangeHandler handler);

  // Something that takes the audio the server sends on this connection.
  class Reader {
   public:
    // Takes what arrived since it last did, as one read.
    virtual void takeArrived() = 0;
    // Whether what it reads may wait for the rest of a batch period.
    virtual bool mayWait() const = 0;
    // Asks the server for the timing of what it reads.
    virtual void askTiming() = 0;

   protected:
    ~Reader() = default;
  };
  // A reader is told until it is removed; neither is done from a reader's
  // own calls.
  void addReader(Reader* reader);
  void removeReader(Reader* reader);
  // Asks every reader's timing at once: the server then answers all of them
  // at one moment of its processing cycle, so that whatever a report's moment
  // is late by, it is late by as much for every stream, and streams that
  // hear one sound give it one time.
  void askTimings();

  // Every wait from now on ends within `seconds` from now, however long it
  // was given (a wait that begins after that moment throws at once), so that
  // a server that hangs cannot hold a caller beyond its own deadline;
  // infinity lifts the end. Lock held.
  void endWaitsIn(double seconds);

  static constexpr double kTimeoutSeconds = 10.0;

 private:
  static void contextStateChanged(pa_context* context, void* self);
  static void serverChanged(pa_context* context, pa_subscription_event_type_t event,
                            std::uint32_t index, void* self);
  void teardown();
  void batchEnded();
  bool batchingAllowed() const;

  pa_threaded_mainloop* mainloop_ = nullptr;
  std::unique_ptr<BatchedLoopApi> batchedLoop_;
  std::vector<Reader*> readers_;
  pa_context* context_ = nullptr;
  bool disconnecting_ = false;
  std::optional<pa_usec_t> waitsEndAt_;  // on libpulse's monotonic clock
  bool dropsCycles_ = false;
  std::function<void(int)> failureHandler_;
  ChangeHandler changeHandler_;
};

}  // namespace mirevo::platform::pulse
