// The outputs and the delegate of one capture stream, and the way the
// system's callbacks reach them. Buffers are delivered on the queue their
// output was registered with (the system calls its output there); stop
// reports are handed to the first output's queue. So every call into the
// session runs on one of those queues, and closing the link, which waits for
// what runs on them, ends them all: once close returns, no output or delegate
// is called again.
//
// The system reaches the link only through a weak reference; the link holds
// the outputs and the delegate (which themselves reach the session weakly).
//
// Threads: add before capture starts, on one thread; deliver on the output's
// queue; reportStop from any thread; close from any thread, one of the
// queues included.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "platform/CaptureService.hpp"
#include "platform/mac/StreamGate.hpp"

namespace mirevo::platform::mac {

class StreamLink : public std::enable_shared_from_this<StreamLink> {
 public:
  explicit StreamLink(std::shared_ptr<StreamDelegate> delegate) : delegate_(std::move(delegate)) {}

  void add(int outputType, std::shared_ptr<StreamOutput> output,
           std::shared_ptr<SerialQueue> queue);
  std::vector<int> outputTypes() const;

  // Passes `buffer` to the output of its type, if the gate lets buffers by.
  void deliver(const SampleBuffer& buffer, int outputType);
  // Passes a stop to the delegate, once, on the first output's queue (on the
  // calling thread when no output is registered).
  void reportStop(const Error& error);
  // Closes the gate and waits for a call running on an output's queue.
  void close();

  StreamGate& gate() { return gate_; }

 private:
  struct Entry {
    std::shared_ptr<StreamOutput> output;
    std::shared_ptr<SerialQueue> queue;
  };

  std::shared_ptr<StreamDelegate> delegate_;
  std::map<int, Entry> entries_;
  std::shared_ptr<SerialQueue> reportQueue_;
  StreamGate gate_;
};

}  // namespace mirevo::platform::mac
