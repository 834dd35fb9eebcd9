// A Completion on the simulated clock, for the backend's waits: a wait first
// lets the test answer as the system would meanwhile (duringWait), returns at
// once when that signalled, and otherwise moves the clock to the deadline,
// lets the test answer just then (atDeadline) and reports the deadline passed.
#pragma once

#include <functional>
#include <memory>

#include "platform/mac/CompletionAnswer.hpp"
#include "platform/sim/SimClock.hpp"

namespace mirevo::platform::mac {

struct SimWaits {
  explicit SimWaits(sim::SimClock& clock) : clock(clock) {}

  CompletionFactory factory();

  sim::SimClock& clock;
  std::function<void()> duringWait;
  std::function<void()> atDeadline;
  int waits = 0;
};

class SimCompletion final : public Completion {
 public:
  explicit SimCompletion(SimWaits& waits) : waits_(waits) {}

  void signal() override { signalled_ = true; }
  bool waitFor(double seconds) override {
    ++waits_.waits;
    if (!signalled_ && waits_.duringWait) waits_.duringWait();
    if (signalled_) return true;
    waits_.clock.advance(seconds);
    if (waits_.atDeadline) waits_.atDeadline();
    return false;
  }

 private:
  SimWaits& waits_;
  bool signalled_ = false;
};

inline CompletionFactory SimWaits::factory() {
  return [this] { return std::make_shared<SimCompletion>(*this); };
}

}  // namespace mirevo::platform::mac
