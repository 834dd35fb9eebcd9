// The outputs registered with a stream, one per output type, and the hand-over
// of buffers to their queues: the one place where a backend's audio enters a
// session's queue.
//
// The audio handed over and not yet through its output (an output call that
// blocks writing an event still counts) is counted against a budget. While a
// buffer does not fit, it is dropped: when the session's queue
// stands still (its events cannot be written because the parent does not
// read), what waits stays bounded, in order, and the recording goes on. Once
// a buffer is dropped, every buffer is dropped until the backlog has drained
// to half the budget: a smaller buffer that would still fit must not split the
// dropped stretch in two. The audio after a drop keeps its own capture time,
// so the accumulator sees the dropped stretch as one gap.
//
// Closing makes sure no output is called again, also by work already waiting
// on a queue.
//
// Threads: add before capture starts (one thread); deliver from the
// platform's threads; close from any thread but an output's queue while it
// delivers. The count is one atomic: delivering takes no lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/CaptureService.hpp"

namespace mirevo::platform {

class StreamOutputs {
 public:
  // For both sources of one stream together: some 87 s of the two 48 kHz mono
  // float sources.
  static constexpr std::size_t kDefaultBudgetBytes = std::size_t{32} << 20;

  explicit StreamOutputs(std::size_t budgetBytes = kDefaultBudgetBytes);

  void add(int outputType, std::shared_ptr<StreamOutput> output,
           std::shared_ptr<SerialQueue> queue);
  bool has(int outputType) const { return entries_.count(outputType) != 0; }
  std::vector<int> types() const;

  // Submits `buffer` to the queue of the output registered for `outputType`,
  // which is told it as `reportedType`. False when there is no such output or
  // the buffer does not fit into the budget (it is then dropped).
  bool deliver(int outputType, std::shared_ptr<const SampleBuffer> buffer, int reportedType) const;
  bool deliver(int outputType, std::shared_ptr<const SampleBuffer> buffer) const {
    return deliver(outputType, std::move(buffer), outputType);
  }

  // Bytes of audio submitted and not yet through their output.
  std::size_t backlogBytes() const;
  std::size_t budgetBytes() const { return budgetBytes_; }

  // Waits for an output call in progress; afterwards none starts.
  void close();

 private:
  // Shared with the work waiting on the queues, which may outlive this.
  struct Shared {
    std::recursive_mutex gate;
    bool open = true;
    std::atomic<std::size_t> backlogBytes{0};
    // Dropping until the backlog has drained to half the budget.
    std::atomic<bool> dropping{false};
  };
  struct Entry {
    std::shared_ptr<StreamOutput> output;
    std::shared_ptr<SerialQueue> queue;
  };

  // Counts `bytes` into the backlog if they fit.
  bool reserve(std::size_t bytes) const;

  std::size_t budgetBytes_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::map<int, Entry> entries_;
};

}  // namespace mirevo::platform
