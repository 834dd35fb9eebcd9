#include "platform/pulse/BatchedLoopApi.hpp"

#include <poll.h>
#include <pulse/timeval.h>
#include <sys/time.h>

#include <algorithm>

namespace mirevo::platform::pulse {

// An event as the context sees it: what it asked for, over the loop's own.
struct BatchedLoopApi::IoEvent {
  BatchedLoopApi* owner;
  pa_io_event* real = nullptr;
  int fd;
  pa_io_event_flags_t wanted;
  pa_io_event_cb_t callback;
  void* userdata;
  pa_io_event_destroy_cb_t destroy = nullptr;
};

struct BatchedLoopApi::TimeEvent {
  BatchedLoopApi* owner;
  pa_time_event* real = nullptr;
  pa_time_event_cb_t callback;
  void* userdata;
  pa_time_event_destroy_cb_t destroy = nullptr;
};

struct BatchedLoopApi::DeferEvent {
  BatchedLoopApi* owner;
  pa_defer_event* real = nullptr;
  pa_defer_event_cb_t callback;
  void* userdata;
  pa_defer_event_destroy_cb_t destroy = nullptr;
};

namespace {

template <typename Ours, typename Theirs>
Ours* ours(Theirs* event) {
  return reinterpret_cast<Ours*>(event);
}

template <typename Theirs, typename Ours>
Theirs* theirs(Ours* event) {
  return reinterpret_cast<Theirs*>(event);
}

bool inputWaits(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

}  // namespace

BatchedLoopApi::BatchedLoopApi(pa_mainloop_api* loop, Handlers handlers, double batchSeconds)
    : loop_(loop), api_(*loop), handlers_(std::move(handlers)), batchSeconds_(batchSeconds) {
  api_.userdata = this;
  api_.io_new = &BatchedLoopApi::ioNew;
  api_.io_enable = &BatchedLoopApi::ioEnable;
  api_.io_free = &BatchedLoopApi::ioFree;
  api_.io_set_destroy = &BatchedLoopApi::ioSetDestroy;
  api_.time_new = &BatchedLoopApi::timeNew;
  api_.time_restart = &BatchedLoopApi::timeRestart;
  api_.time_free = &BatchedLoopApi::timeFree;
  api_.time_set_destroy = &BatchedLoopApi::timeSetDestroy;
  api_.defer_new = &BatchedLoopApi::deferNew;
  api_.defer_enable = &BatchedLoopApi::deferEnable;
  api_.defer_free = &BatchedLoopApi::deferFree;
  api_.defer_set_destroy = &BatchedLoopApi::deferSetDestroy;
  api_.quit = &BatchedLoopApi::quit;
  periodTimer_ = loop_->time_new(loop_, nullptr, &BatchedLoopApi::periodEnded, this);
}

void BatchedLoopApi::close() {
  resumeAll();
  if (periodTimer_ != nullptr) loop_->time_free(periodTimer_);
  periodTimer_ = nullptr;
}

BatchedLoopApi& BatchedLoopApi::of(pa_mainloop_api* api) {
  return *static_cast<BatchedLoopApi*>(api->userdata);
}

BatchedLoopApi::Hold::Hold(BatchedLoopApi& loop) : loop_(loop) {
  ++loop_.holds_;
  loop_.resumeAll();
}

BatchedLoopApi::Hold::~Hold() {
  --loop_.holds_;
}

pa_io_event* BatchedLoopApi::ioNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                                   pa_io_event_cb_t callback, void* userdata) {
  BatchedLoopApi& self = of(api);
  auto* event = new IoEvent{&self, nullptr, fd, events, callback, userdata};
  event->real =
      self.loop_->io_new(self.loop_, fd, self.flagsFor(*event), &BatchedLoopApi::ioFired, event);
  if (event->real == nullptr) {
    delete event;
    return nullptr;
  }
  self.loop_->io_set_destroy(event->real, &BatchedLoopApi::ioDestroyed);
  self.events_.push_back(event);
  return theirs<pa_io_event>(event);
}

void BatchedLoopApi::ioEnable(pa_io_event* handle, pa_io_event_flags_t events) {
  IoEvent* event = ours<IoEvent>(handle);
  event->wanted = events;
  event->owner->applyFlags(*event);
}

pa_io_event_flags_t BatchedLoopApi::flagsFor(const IoEvent& event) const {
  const bool waits = std::find(pausedFds_.begin(), pausedFds_.end(), event.fd) != pausedFds_.end();
  return waits ? static_cast<pa_io_event_flags_t>(event.wanted & ~PA_IO_EVENT_INPUT) : event.wanted;
}

void BatchedLoopApi::applyFlags(IoEvent& event) {
  loop_->io_enable(event.real, flagsFor(event));
}

void BatchedLoopApi::ioFree(pa_io_event* handle) {
  IoEvent* event = ours<IoEvent>(handle);
  BatchedLoopApi& self = *event->owner;
  std::erase(self.events_, event);
  // The loop frees its event later, and with it ours (ioDestroyed).
  self.loop_->io_free(event->real);
}

void BatchedLoopApi::ioSetDestroy(pa_io_event* handle, pa_io_event_destroy_cb_t callback) {
  ours<IoEvent>(handle)->destroy = callback;
}

void BatchedLoopApi::ioDestroyed(pa_mainloop_api*, pa_io_event*, void* userdata) {
  auto* event = static_cast<IoEvent*>(userdata);
  std::erase(event->owner->events_, event);  // when the loop is freed with it
  if (event->destroy != nullptr) {
    event->destroy(&event->owner->api_, theirs<pa_io_event>(event), event->userdata);
  }
  delete event;
}

void BatchedLoopApi::ioFired(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t events,
                             void* userdata) {
  auto* event = static_cast<IoEvent*>(userdata);
  BatchedLoopApi& self = *event->owner;
  // libpulse may free the event in its callback and make another for the
  // same descriptor: what follows goes by the descriptor.
  event->callback(&self.api_, theirs<pa_io_event>(event), fd, events, event->userdata);
  if ((events & PA_IO_EVENT_INPUT) != 0) self.tookInput(fd);
}

void BatchedLoopApi::tookInput(int fd) {
  if (!batching()) {
    endBatch();
    return;
  }
  // The loop comes straight back while more waits; the batch is read whole.
  draining_ = ++callbacksInBatch_ < kMaxCallbacksPerBatch && inputWaits(fd);
  if (draining_) return;
  endBatch();
  pause(fd);
}

bool BatchedLoopApi::batching() const {
  return holds_ == 0 && periodTimer_ != nullptr && handlers_.batchingAllowed &&
         handlers_.batchingAllowed();
}

void BatchedLoopApi::endBatch() {
  callbacksInBatch_ = 0;
  draining_ = false;
  if (handlers_.batchEnded) handlers_.batchEnded();
}

void BatchedLoopApi::pause(int fd) {
  if (std::find(pausedFds_.begin(), pausedFds_.end(), fd) != pausedFds_.end()) return;
  if (pausedFds_.empty()) {
    timeval end{};
    pa_gettimeofday(&end);
    pa_timeval_add(&end, static_cast<pa_usec_t>(batchSeconds_ * 1e6));
    loop_->time_restart(periodTimer_, &end);
  }
  pausedFds_.push_back(fd);
  applyFlagsOn(fd);
}

void BatchedLoopApi::applyFlagsOn(int fd) {
  for (IoEvent* event : events_) {
    if (event->fd == fd) applyFlags(*event);
  }
}

void BatchedLoopApi::periodEnded(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                 void* self) {
  static_cast<BatchedLoopApi*>(self)->resumeAll();
}

void BatchedLoopApi::resumeAll() {
  if (pausedFds_.empty()) return;
  const std::vector<int> resumed = std::move(pausedFds_);
  pausedFds_.clear();
  for (const int fd : resumed) applyFlagsOn(fd);
  if (periodTimer_ != nullptr) loop_->time_restart(periodTimer_, nullptr);
}

// A timer is the loop's own, but it must fire as the context made it: with
// this interface and the event it was given. (libpulse asserts both when a
// reply times out.)
pa_time_event* BatchedLoopApi::timeNew(pa_mainloop_api* api, const struct timeval* when,
                                       pa_time_event_cb_t callback, void* userdata) {
  BatchedLoopApi& self = of(api);
  auto* event = new TimeEvent{&self, nullptr, callback, userdata};
  event->real = self.loop_->time_new(self.loop_, when, &BatchedLoopApi::timeFired, event);
  if (event->real == nullptr) {
    delete event;
    return nullptr;
  }
  self.loop_->time_set_destroy(event->real, &BatchedLoopApi::timeDestroyed);
  return theirs<pa_time_event>(event);
}

void BatchedLoopApi::timeRestart(pa_time_event* handle, const struct timeval* when) {
  TimeEvent* event = ours<TimeEvent>(handle);
  event->owner->loop_->time_restart(event->real, when);
}

void BatchedLoopApi::timeFree(pa_time_event* handle) {
  TimeEvent* event = ours<TimeEvent>(handle);
  event->owner->loop_->time_free(event->real);
}

void BatchedLoopApi::timeSetDestroy(pa_time_event* handle, pa_time_event_destroy_cb_t callback) {
  ours<TimeEvent>(handle)->destroy = callback;
}

void BatchedLoopApi::timeFired(pa_mainloop_api*, pa_time_event*, const struct timeval* when,
                               void* userdata) {
  auto* event = static_cast<TimeEvent*>(userdata);
  event->callback(&event->owner->api_, theirs<pa_time_event>(event), when, event->userdata);
}

void BatchedLoopApi::timeDestroyed(pa_mainloop_api*, pa_time_event*, void* userdata) {
  auto* event = static_cast<TimeEvent*>(userdata);
  if (event->destroy != nullptr) {
    event->destroy(&event->owner->api_, theirs<pa_time_event>(event), event->userdata);
  }
  delete event;
}

pa_defer_event* BatchedLoopApi::deferNew(pa_mainloop_api* api, pa_defer_event_cb_t callback,
                                         void* userdata) {
  BatchedLoopApi& self = of(api);
  auto* event = new DeferEvent{&self, nullptr, callback, userdata};
  event->real = self.loop_->defer_new(self.loop_, &BatchedLoopApi::deferFired, event);
  if (event->real == nullptr) {
    delete event;
    return nullptr;
  }
  self.loop_->defer_set_destroy(event->real, &BatchedLoopApi::deferDestroyed);
  return theirs<pa_defer_event>(event);
}

void BatchedLoopApi::deferEnable(pa_defer_event* handle, int enabled) {
  DeferEvent* event = ours<DeferEvent>(handle);
  event->owner->loop_->defer_enable(event->real, enabled);
}

void BatchedLoopApi::deferFree(pa_defer_event* handle) {
  DeferEvent* event = ours<DeferEvent>(handle);
  event->owner->loop_->defer_free(event->real);
}

void BatchedLoopApi::deferSetDestroy(pa_defer_event* handle, pa_defer_event_destroy_cb_t callback) {
  ours<DeferEvent>(handle)->destroy = callback;
}

void BatchedLoopApi::deferDestroyed(pa_mainloop_api*, pa_defer_event*, void* userdata) {
  auto* event = static_cast<DeferEvent*>(userdata);
  if (event->destroy != nullptr) {
    event->destroy(&event->owner->api_, theirs<pa_defer_event>(event), event->userdata);
  }
  delete event;
}

// libpulse's own deferred work reads what waits in the shared ring, too.
void BatchedLoopApi::deferFired(pa_mainloop_api*, pa_defer_event*, void* userdata) {
  auto* event = static_cast<DeferEvent*>(userdata);
  BatchedLoopApi& self = *event->owner;
  event->callback(&self.api_, theirs<pa_defer_event>(event), event->userdata);
  if (!self.draining_) self.endBatch();
}

void BatchedLoopApi::quit(pa_mainloop_api* api, int result) {
  pa_mainloop_api* loop = of(api).loop_;
  loop->quit(loop, result);
}

}  // namespace mirevo::platform::pulse
