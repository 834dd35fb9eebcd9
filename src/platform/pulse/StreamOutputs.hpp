// The outputs registered with a stream, one per output type, and the hand-over
// of buffers to their queues. Closing makes sure no output is called again,
// also by work already waiting on a queue.
//
// Threads: add before capture starts (one thread); deliver from the libpulse
// loop thread; close from any thread but an output's queue while it delivers.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/CaptureService.hpp"

namespace mirevo::platform::pulse {

class StreamOutputs {
 public:
  void add(int outputType, std::shared_ptr<StreamOutput> output,
           std::shared_ptr<SerialQueue> queue);
  bool has(int outputType) const { return entries_.count(outputType) != 0; }
  // Submits `buffer` to the queue of the output registered for its type.
  void deliver(int outputType, std::shared_ptr<const SampleBuffer> buffer) const;
  // Waits for an output call in progress; afterwards none starts.
  void close();

 private:
  struct Gate {
    std::recursive_mutex mutex;
    bool open = true;
  };
  struct Entry {
    std::shared_ptr<StreamOutput> output;
    std::shared_ptr<SerialQueue> queue;
  };

  std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
  std::map<int, Entry> entries_;
};

}  // namespace mirevo::platform::pulse
