#include "platform/pulse/PulseConnection.hpp"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/pulse/PulseError.hpp"

namespace mirevo::platform::pulse {
namespace {

bool contextBad(pa_context_state_t state) {
  return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

struct Deadline {
  pa_threaded_mainloop* mainloop;
  bool passed = false;
};

void deadlinePassed(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
  auto* deadline = static_cast<Deadline*>(userdata);
  deadline->passed = true;
  pa_threaded_mainloop_signal(deadline->mainloop, 0);
}

void operationChanged(pa_operation*, void* mainloop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

}  // namespace

PulseConnection::Lock::Lock(const PulseConnection& connection) : locked_(nullptr) {
  if (!connection.inLoopThread()) {
    locked_ = connection.mainloop_;
    pa_threaded_mainloop_lock(locked_);
  }
}

PulseConnection::Lock::~Lock() {
  if (locked_ != nullptr) pa_threaded_mainloop_unlock(locked_);
}

PulseConnection::PulseConnection(const char* clientName, double timeoutSeconds) {
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) throw pulseError(PA_ERR_INTERNAL);
  batchedLoop_ = std::make_unique<BatchedLoopApi>(
      pa_threaded_mainloop_get_api(mainloop_),
      BatchedLoopApi::Handlers{[this] { batchEnded(); }, [this] { return batchingAllowed(); }});
  context_ = pa_context_new(batchedLoop_->api(), clientName);
  if (context_ == nullptr) {
    batchedLoop_->close();
    pa_threaded_mainloop_free(mainloop_);
    throw pulseError(PA_ERR_INTERNAL);
  }
  pa_context_set_state_callback(context_, &PulseConnection::contextStateChanged, this);
  // The agent never starts a server of its own.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(mainloop_) < 0) {
    const int code = pa_context_errno(context_);
    teardown();
    throw pulseError(code != 0 ? code : PA_ERR_INTERNAL);
  }
  try {
    Lock lock(*this);
    waitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
              timeoutSeconds);
    const auto learnServer = [](pa_context*, const pa_server_info* info, void* self) {
      if (info == nullptr || info->server_name == nullptr) return;
      static_cast<PulseConnection*>(self)->dropsCycles_ =
          std::strstr(info->server_name, "PipeWire") != nullptr;
    };
    await(pa_context_get_server_info(context_, learnServer, this), timeoutSeconds);
  } catch (...) {
    teardown();
    throw;
  }
}

PulseConnection::~PulseConnection() {
  teardown();
}

void PulseConnection::teardown() {
  if (mainloop_ == nullptr) return;
  {
    Lock lock(*this);
    disconnecting_ = true;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  pa_threaded_mainloop_stop(mainloop_);
  batchedLoop_->close();
  // Frees what is left of the context's events, which still use the batched
  // interface.
  pa_threaded_mainloop_free(mainloop_);
  mainloop_ = nullptr;
  batchedLoop_.reset();
}

void PulseConnection::addReader(Reader* reader) {
  readers_.push_back(reader);
}

void PulseConnection::removeReader(Reader* reader) {
  std::erase(readers_, reader);
}

void PulseConnection::askTimings() {
  for (Reader* reader : readers_) reader->askTiming();
}

void PulseConnection::batchEnded() {
  for (Reader* reader : readers_) reader->takeArrived();
}

bool PulseConnection::batchingAllowed() const {
  return !readers_.empty() && std::all_of(readers_.begin(), readers_.end(),
                                          [](const Reader* r) { return r->mayWait(); });
}

bool PulseConnection::inLoopThread() const {
  return mainloop_ != nullptr && pa_threaded_mainloop_in_thread(mainloop_) != 0;
}

int PulseConnection::errorCode() const {
  const int code = context_ != nullptr ? pa_context_errno(context_) : 0;
  return code != 0 ? code : PA_ERR_CONNECTIONTERMINATED;
}

void PulseConnection::signal() {
  pa_threaded_mainloop_signal(mainloop_, 0);
}

void PulseConnection::waitUntil(const std::function<bool()>& done, double timeoutSeconds) {
  // The answer is wanted now: nothing waits for the end of a batch period.
  BatchedLoopApi::Hold hold(*batchedLoop_);
  Deadline deadline{mainloop_};
  const pa_usec_t now = pa_rtclock_now();
  pa_usec_t endsAt = now + static_cast<pa_usec_t>(timeoutSeconds * 1e6);
  if (waitsEndAt_) endsAt = std::min(endsAt, *waitsEndAt_);
  if (endsAt <= now) deadline.passed = true;
  pa_time_event* timer = pa_context_rttime_new(context_, endsAt, &deadlinePassed, &deadline);
  int failure = 0;
  while (!done()) {
    if (contextBad(pa_context_get_state(context_))) {
      failure = errorCode();
      break;
    }
    if (deadline.passed) {
      failure = PA_ERR_TIMEOUT;
      break;
    }
    pa_threaded_mainloop_wait(mainloop_);
  }
  // Made through the context's interface, so freed through it.
  if (timer != nullptr) batchedLoop_->api()->time_free(timer);
  if (failure != 0) throw pulseError(failure);
}

void PulseConnection::endWaitsIn(double seconds) {
  if (!std::isfinite(seconds)) {
    waitsEndAt_.reset();
    return;
  }
  waitsEndAt_ = pa_rtclock_now() + static_cast<pa_usec_t>(std::max(0.0, seconds) * 1e6);
}

void PulseConnection::await(pa_operation* operation, double timeoutSeconds) {
  if (operation == nullptr) throw pulseError(errorCode());
  pa_operation_set_state_callback(operation, &operationChanged, mainloop_);
  try {
    waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
              timeoutSeconds);
  } catch (...) {
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    throw;
  }
  pa_operation_unref(operation);
}

void PulseConnection::catchUp(double timeoutSeconds) {
  const auto answered = [](pa_context*, const pa_server_info*, void*) {};
  await(pa_context_get_server_info(context_, answered, nullptr), timeoutSeconds);
}

void PulseConnection::subscribe(pa_subscription_mask_t mask, ChangeHandler handler) {
  changeHandler_ = std::move(handler);
  pa_context_set_subscribe_callback(context_, &PulseConnection::serverChanged, this);
  await(pa_context_subscribe(context_, mask, nullptr, nullptr));
}

void PulseConnection::serverChanged(pa_context*, pa_subscription_event_type_t event,
                                    std::uint32_t index, void* self) {
  auto* connection = static_cast<PulseConnection*>(self);
  if (!connection->disconnecting_ && connection->changeHandler_) {
    connection->changeHandler_(event, index);
  }
}

void PulseConnection::contextStateChanged(pa_context* context, void* self) {
  auto* connection = static_cast<PulseConnection*>(self);
  connection->signal();
  if (connection->disconnecting_ || !contextBad(pa_context_get_state(context))) return;
  if (connection->failureHandler_) connection->failureHandler_(connection->errorCode());
}

}  // namespace mirevo::platform::pulse
