// A capture stream on the audio server: the chosen sink's monitor as the
// system's audio (output type 1) and a microphone source (output type 2), each
// recorded by its own record stream on one connection of its own.
//
// The microphone is the one the configuration names, or the server's default
// source; when the default is a monitor there is no microphone, and that
// output receives nothing. A record stream or the connection that fails or
// ends on its own is reported once to the delegate, with libpulse's text.
// The stream holds its outputs and its delegate until it is destroyed.
//
// Threads: the Stream calls from any one thread but a libpulse loop thread at
// a time; the delegate is told on the stream's libpulse loop thread; buffers
// go to their outputs' queues. The destructor may run on any thread.
#pragma once

#include <memory>

#include "platform/CaptureService.hpp"
#include "platform/Clock.hpp"

namespace mirevo::platform::pulse {

class PulseStream final : public Stream {
 public:
  PulseStream(const ContentFilter& filter, const StreamConfiguration& configuration,
              std::shared_ptr<StreamDelegate> delegate, const Clock& clock);
  ~PulseStream() override;
  PulseStream(const PulseStream&) = delete;
  PulseStream& operator=(const PulseStream&) = delete;

  // Only before startCapture; throws otherwise.
  void addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                       std::shared_ptr<SerialQueue> queue) override;
  // Connects and waits until every record stream runs; throws libpulse's
  // error (an unreachable server, an unknown source) and leaves nothing open.
  void startCapture() override;
  // Disconnects both record streams, waits until the server has ended them
  // (boundedly) and closes the connection. Buffers already handed to a queue
  // are still delivered. Succeeds also after the stream failed.
  void stopCapture() override;

  struct Capture;  // the state the libpulse loop thread shares

 private:
  std::shared_ptr<Capture> capture_;
};

}  // namespace mirevo::platform::pulse
