// The main loop interface a connection's libpulse context runs on: the
// threaded loop's own, passed through, except in two ways. (Every event made
// through it fires with it and as the event it gave out, as libpulse checks.)
//
// - Batched wake-ups. A PulseAudio server sends every block its sources post
//   as soon as it is posted: a sink's monitor passes on each block a player
//   writes, hundreds a second, and waking the loop thread for each costs far
//   more than the audio does. While the owner allows it, a descriptor that
//   has been drained is not listened to for input until the batch period that
//   began then has passed; what the server sends meanwhile waits in the
//   socket or the shared ring and is taken in one go at the end. Hang-ups and
//   errors are told at once, output is never held back, and while a caller
//   waits for the server's answer (a Hold) nothing waits.
// - The end of a batch. After each callback that took input (an event on a
//   descriptor, once nothing more waits on it, or a deferred one), `batchEnded`
//   is told, so that readers take what arrived as one read and time it by
//   how much of it waits.
//
// The owner allows batching only for streams whose fragments are short: a
// reader times what it takes by the moment it takes it, and waiting is then
// off by no more than the time since the newest fragment, which such a
// stream keeps short.
//
// Threads: every call on the loop thread or with the loop's lock held; the
// callbacks run on the loop thread. Outlives every event made through api(),
// which the loop frees at the latest when it is freed itself: close() comes
// after the loop has stopped, before it is freed.
#pragma once

#include <pulse/mainloop-api.h>

#include <functional>
#include <vector>

namespace mirevo::platform::pulse {

class BatchedLoopApi {
 public:
  struct Handlers {
    std::function<void()> batchEnded;
    // Asked whenever a drained descriptor could wait.
    std::function<bool()> batchingAllowed;
  };

  BatchedLoopApi(pa_mainloop_api* loop, Handlers handlers, double batchSeconds = kBatchSeconds);
  ~BatchedLoopApi() = default;
  BatchedLoopApi(const BatchedLoopApi&) = delete;
  BatchedLoopApi& operator=(const BatchedLoopApi&) = delete;

  pa_mainloop_api* api() { return &api_; }

  // While one lives, every descriptor is listened to at once.
  class Hold {
   public:
    explicit Hold(BatchedLoopApi& loop);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    BatchedLoopApi& loop_;
  };

  // Frees the batch timer; nothing waits afterwards.
  void close();

  // A tenth of a second: ten wake-ups a second at most for the audio, while
  // one-second chunks and the heartbeat's levels are still current.
  static constexpr double kBatchSeconds = 0.100;
  // A descriptor that is never drained ends its batch at least this often, in
  // callbacks, so that readers are not kept from their audio.
  static constexpr int kMaxCallbacksPerBatch = 256;

 private:
  struct IoEvent;
  struct TimeEvent;
  struct DeferEvent;

  static pa_io_event* ioNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                            pa_io_event_cb_t callback, void* userdata);
  static void ioEnable(pa_io_event* event, pa_io_event_flags_t events);
  static void ioFree(pa_io_event* event);
  static void ioSetDestroy(pa_io_event* event, pa_io_event_destroy_cb_t callback);
  static void ioFired(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t events,
                      void* userdata);
  static void ioDestroyed(pa_mainloop_api*, pa_io_event*, void* userdata);

  static pa_time_event* timeNew(pa_mainloop_api* api, const struct timeval* when,
                                pa_time_event_cb_t callback, void* userdata);
  static void timeRestart(pa_time_event* event, const struct timeval* when);
  static void timeFree(pa_time_event* event);
  static void timeSetDestroy(pa_time_event* event, pa_time_event_destroy_cb_t callback);
  static void timeFired(pa_mainloop_api*, pa_time_event*, const struct timeval* when,
                        void* userdata);
  static void timeDestroyed(pa_mainloop_api*, pa_time_event*, void* userdata);

  static pa_defer_event* deferNew(pa_mainloop_api* api, pa_defer_event_cb_t callback,
                                  void* userdata);
  static void deferEnable(pa_defer_event* event, int enabled);
  static void deferFree(pa_defer_event* event);
  static void deferSetDestroy(pa_defer_event* event, pa_defer_event_destroy_cb_t callback);
  static void deferFired(pa_mainloop_api*, pa_defer_event*, void* userdata);
  static void deferDestroyed(pa_mainloop_api*, pa_defer_event*, void* userdata);

  static void quit(pa_mainloop_api* api, int result);

  static void periodEnded(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

  static BatchedLoopApi& of(pa_mainloop_api* api);
  void tookInput(int fd);
  void endBatch();
  bool batching() const;
  void pause(int fd);
  void resumeAll();
  pa_io_event_flags_t flagsFor(const IoEvent& event) const;
  void applyFlags(IoEvent& event);
  void applyFlagsOn(int fd);

  pa_mainloop_api* loop_;
  pa_mainloop_api api_;
  Handlers handlers_;
  double batchSeconds_;
  pa_time_event* periodTimer_ = nullptr;
  std::vector<IoEvent*> events_;  // not freed
  std::vector<int> pausedFds_;    // whose input waits for the period's end
  int holds_ = 0;
  int callbacksInBatch_ = 0;
  // A descriptor still has input waiting: the batch is not whole yet.
  bool draining_ = false;
};

}  // namespace mirevo::platform::pulse
