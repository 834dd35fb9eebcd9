// The capture service: one stream that delivers the system's audio and the
// chosen microphone as separate sample buffers. On Linux the "displays" are the
// audio server's output sinks; their monitors carry the system's audio.
//
// Threads: every call here is made off the session's queue (by the command
// loop's thread). Calls that complete through a callback on other platforms
// block here until the result is known, and throw the platform's Error.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.hpp"
#include "platform/SampleBuffer.hpp"
#include "platform/SerialQueue.hpp"

namespace mirevo::platform {

// Output types of a stream.
inline constexpr int kOutputTypeScreen = 0;
inline constexpr int kOutputTypeAudio = 1;  // the system's audio
inline constexpr int kOutputTypeMicrophone = 2;

struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;
};

// Something whose audio can be captured. On Linux: an output sink, with the
// monitor source that records what it plays.
struct Display {
  std::string id;           // sink name
  std::string name;         // human-readable description
  std::string audioSource;  // the monitor source that carries its audio
};

struct ShareableContent {
  std::vector<Display> displays;  // the default output first
};

struct ContentFilter {
  Display display;
  std::vector<std::string> excludingApplications;
  std::vector<std::string> exceptingWindows;
};

struct StreamConfiguration {
  bool capturesAudio = false;
  bool captureMicrophone = false;
  std::optional<std::string> microphoneCaptureDeviceID;  // none: the platform's choice
  bool excludesCurrentProcessAudio = false;
  int sampleRate = 48000;
  int channelCount = 2;
  int width = 1920;
  int height = 1080;
  MediaTime minimumFrameInterval;
  bool showsCursor = true;
};

// Receives the stream's sample buffers. Called on the queue given with
// Stream::addStreamOutput, one buffer at a time, in delivery order.
class StreamOutput {
 public:
  virtual ~StreamOutput() = default;
  virtual void didOutputSampleBuffer(const SampleBuffer& buffer, int outputType) = 0;
};

// Told when the stream stops on its own with an error. Called on a platform
// thread, at most once per stop.
class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  virtual void didStopWithError(const Error& error) = 0;
};

class Stream {
 public:
  // Tears the stream down: once the destructor returns, no output or delegate
  // of this stream is called again and nothing more is submitted to its queues.
  virtual ~Stream() = default;
  // Registers `output` for one output type; its buffers are submitted to
  // `queue`. Throws the platform's Error.
  virtual void addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                               std::shared_ptr<SerialQueue> queue) = 0;
  // Blocks until capture runs; throws the platform's Error. No buffer is
  // delivered before it has succeeded.
  virtual void startCapture() = 0;
  // Blocks until capture has stopped; throws the platform's Error.
  virtual void stopCapture() = 0;
};

class CaptureService {
 public:
  virtual ~CaptureService() = default;
  // Whether this process may record from microphones.
  virtual bool requestMicrophoneAccess() = 0;
  // What can be captured; throws the platform's Error.
  virtual ShareableContent shareableContent() = 0;
  // A stream over `filter`, configured by `configuration`, that reports its
  // own stops to `delegate`. Nothing runs until startCapture().
  virtual std::unique_ptr<Stream> makeStream(const ContentFilter& filter,
                                             const StreamConfiguration& configuration,
                                             std::shared_ptr<StreamDelegate> delegate) = 0;
};

}  // namespace mirevo::platform
