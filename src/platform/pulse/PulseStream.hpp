// A capture stream on the audio server: the system's audio (output type 1),
// the monitor of the default sink mixed with those of the other sinks that
// play, and a microphone (output type 2), each monitor and the microphone by
// a record stream of its own on one connection of the stream's own.
// ServerRecording says how the sources go with the server's defaults and
// survive its restarts, and what is reported to the delegate.
//
// The microphone is the one the configuration names, or the server's default
// source; when the default is a monitor there is no microphone, and that
// output receives nothing until a microphone becomes the default. The stream
// holds its outputs and its delegate until it is destroyed.
//
// Threads: the Stream calls from any one thread but the worker; the work runs
// on the worker, the capture service's serial queue, which must outlive the
// stream. The delegate is told on the worker, and may destroy the stream
// there. Buffers go to their outputs' queues. The destructor may run on any
// thread but a libpulse loop thread.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/CaptureService.hpp"
#include "platform/Clock.hpp"
#include "platform/SerialQueue.hpp"

namespace mirevo::platform::pulse {

class ServerRecording;

class PulseStream final : public Stream {
 public:
  PulseStream(const ContentFilter& filter, const StreamConfiguration& configuration,
              std::shared_ptr<StreamDelegate> delegate, const Clock& clock,
              std::shared_ptr<SerialQueue> worker);
  ~PulseStream() override;
  PulseStream(const PulseStream&) = delete;
  PulseStream& operator=(const PulseStream&) = delete;

  // Only before startCapture; throws otherwise.
  void addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                       std::shared_ptr<SerialQueue> queue) override;
  // Connects and waits until every record stream runs; throws libpulse's
  // error (an unreachable server, an unknown source) and leaves nothing open.
  void startCapture() override;
  // Hands over what was read, disconnects the record streams, waits until
  // the server has ended them (boundedly) and closes the connection. Buffers
  // already handed to a queue are still delivered. Succeeds also after the
  // stream failed.
  void stopCapture() override;

  // The frames of an output type read from the server for delivery so far:
  // once they all reached the output's queue, nothing read was lost.
  std::int64_t framesRead(int outputType) const;

 private:
  std::shared_ptr<SerialQueue> worker_;
  std::shared_ptr<ServerRecording> recording_;
  bool started_ = false;
};

}  // namespace mirevo::platform::pulse
