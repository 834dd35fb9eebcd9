#include "platform/mac/StreamGate.hpp"

namespace mirevo::platform::mac {

bool StreamGate::markStarted() {
  int expected = kIdle;
  if (!phase_.compare_exchange_strong(expected, kStarted)) return false;
  delivering_.store(true);
  return true;
}

bool StreamGate::giveUpStart() {
  int expected = kIdle;
  return phase_.compare_exchange_strong(expected, kGivenUp);
}

void StreamGate::markStopping() {
  stopping_.store(true);
}

void StreamGate::markStopped() {
  phase_.store(kStopped);
}

void StreamGate::close() {
  open_.store(false);
}

bool StreamGate::takeStopReport() {
  if (!open_.load() || phase_.load() != kStarted || stopping_.load()) return false;
  return !reported_.exchange(true);
}

}  // namespace mirevo::platform::mac
