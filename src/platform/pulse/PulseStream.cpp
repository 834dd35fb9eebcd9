#include "platform/pulse/PulseStream.hpp"

#include <pulse/error.h>

#include <thread>
#include <vector>

#include "platform/StreamOutputs.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/PulseError.hpp"
#include "platform/pulse/PulseQueries.hpp"
#include "platform/pulse/SourceRecorder.hpp"

namespace mirevo::platform::pulse {

struct PulseStream::Capture {
  Capture(const ContentFilter& filter, const StreamConfiguration& configuration,
          std::shared_ptr<StreamDelegate> delegate, const Clock& clock)
      : filter(filter), configuration(configuration), delegate(std::move(delegate)), clock(clock) {}

  void start();
  void stop();
  // Ends delivery and the delegate's reports; with the loop's lock or on the
  // loop thread.
  void silence();
  // Frees the record streams and the connection; off the loop thread.
  void release();
  // On the loop thread.
  void reportStop(int code);

  std::optional<std::string> microphoneSource();
  void addRecorder(const std::string& source, int outputType);

  ContentFilter filter;
  StreamConfiguration configuration;
  std::shared_ptr<StreamDelegate> delegate;
  const Clock& clock;
  StreamOutputs outputs;
  std::unique_ptr<PulseConnection> connection;
  std::vector<std::unique_ptr<SourceRecorder>> recorders;
  // Under the loop's lock.
  bool running = false;
  bool reported = false;

  // How long a stop waits for the server to confirm.
  static constexpr double kStopTimeoutSeconds = 2.0;
};

std::optional<std::string> PulseStream::Capture::microphoneSource() {
  if (configuration.microphoneCaptureDeviceID) return configuration.microphoneCaptureDeviceID;
  const std::string name = serverDefaults(*connection).source;
  if (name.empty()) return std::nullopt;
  const auto source = findSource(*connection, name);
  // A monitor as the default source means that there is no microphone.
  if (!source || source->isMonitor) return std::nullopt;
  return source->name;
}

void PulseStream::Capture::addRecorder(const std::string& source, int outputType) {
  SourceRecorder::Settings settings{source, configuration.sampleRate, configuration.channelCount};
  recorders.push_back(std::make_unique<SourceRecorder>(
      *connection, clock, settings,
      [this, outputType](std::shared_ptr<const SampleBuffer> buffer) {
        outputs.deliver(outputType, std::move(buffer));
      },
      [this](int code) { reportStop(code); }));
}

void PulseStream::Capture::start() {
  if (connection) return;
  connection = std::make_unique<PulseConnection>("Mirevo Capture");
  try {
    PulseConnection::Lock lock(*connection);
    connection->onFailure([this](int code) { reportStop(code); });
    if (configuration.capturesAudio && outputs.has(kOutputTypeAudio)) {
      addRecorder(filter.display.audioSource, kOutputTypeAudio);
    }
    if (configuration.captureMicrophone && outputs.has(kOutputTypeMicrophone)) {
      if (const auto source = microphoneSource()) addRecorder(*source, kOutputTypeMicrophone);
    }
    connection->waitUntil([this] {
      bool allReady = true;
      for (const auto& recorder : recorders) {
        if (recorder->ended()) return true;
        allReady = allReady && recorder->ready();
      }
      return allReady;
    });
    for (const auto& recorder : recorders) {
      if (recorder->ended()) throw pulseError(recorder->errorCode());
    }
    running = true;
    for (const auto& recorder : recorders) recorder->startDelivering();
  } catch (...) {
    release();
    throw;
  }
}

void PulseStream::Capture::stop() {
  if (!connection) return;
  {
    PulseConnection::Lock lock(*connection);
    for (const auto& recorder : recorders) recorder->finishDelivering();
    silence();
    for (const auto& recorder : recorders) recorder->disconnect();
    try {
      connection->waitUntil(
          [this] {
            for (const auto& recorder : recorders) {
              if (!recorder->ended()) return false;
            }
            return true;
          },
          kStopTimeoutSeconds);
    } catch (const Error&) {
      // A server that is gone or stalled has nothing more to end.
    }
  }
  release();
}

void PulseStream::Capture::silence() {
  running = false;
}

void PulseStream::Capture::release() {
  if (!connection) return;
  {
    PulseConnection::Lock lock(*connection);
    recorders.clear();
  }
  connection.reset();
}

void PulseStream::Capture::reportStop(int code) {
  if (!running || reported) return;
  reported = true;
  // The delegate may end the last hold on this stream's owner, so that the
  // stream is destroyed on this thread; the destructor allows for that.
  if (delegate) delegate->didStopWithError(pulseError(code));
}

PulseStream::PulseStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                         std::shared_ptr<StreamDelegate> delegate, const Clock& clock)
    : capture_(std::make_shared<Capture>(filter, configuration, std::move(delegate), clock)) {}

PulseStream::~PulseStream() {
  capture_->outputs.close();
  if (!capture_->connection) return;
  if (capture_->connection->inLoopThread()) {
    // The loop thread cannot stop itself: it silences the capture now (it
    // holds the lock) and another thread frees it once this callback is over.
    capture_->silence();
    std::thread([capture = std::move(capture_)] { capture->release(); }).detach();
    return;
  }
  {
    PulseConnection::Lock lock(*capture_->connection);
    capture_->silence();
  }
  capture_->release();
}

void PulseStream::addStreamOutput(std::shared_ptr<StreamOutput> output, int outputType,
                                  std::shared_ptr<SerialQueue> queue) {
  if (capture_->connection) throw pulseError(PA_ERR_BADSTATE);
  capture_->outputs.add(outputType, std::move(output), std::move(queue));
}

void PulseStream::startCapture() {
  capture_->start();
}

void PulseStream::stopCapture() {
  capture_->stop();
}

}  // namespace mirevo::platform::pulse
