#include "capture/Capture.hpp"

#include <utility>

#include "capture/CaptureErrors.hpp"
#include "capture/StreamCallbacks.hpp"
#include "devices/InputDevices.hpp"

namespace mirevo {
namespace {

constexpr const char* kQueueLabel = "app.mirevo.capture.audio";
constexpr double kHeartbeatIntervalSeconds = 1.0;

// Whether `device` is the "id" of an entry of the device list. Entries
// without a string "id" match nothing.
bool isListed(const nlohmann::json& entries, const std::string& device) {
  for (const auto& entry : entries) {
    const auto id = entry.find("id");
    if (id != entry.end() && id->is_string() && id->get_ref<const std::string&>() == device) {
      return true;
    }
  }
  return false;
}

// System audio and the microphone at 48 kHz mono; video at its smallest,
// since no video output is ever registered.
platform::StreamConfiguration streamConfiguration(const std::optional<std::string>& device) {
  platform::StreamConfiguration configuration;
  configuration.capturesAudio = true;
  configuration.captureMicrophone = true;
  if (device) configuration.microphoneCaptureDeviceID = *device;
  configuration.excludesCurrentProcessAudio = true;
  configuration.sampleRate = 48000;
  configuration.channelCount = 1;
  configuration.width = 2;
  configuration.height = 2;
  configuration.minimumFrameInterval = platform::MediaTime{1, 1};
  configuration.showsCursor = false;
  return configuration;
}

}  // namespace

Capture::Capture(std::string session, platform::Platform& platform)
    : session_(std::move(session)),
      platform_(platform),
      queue_(platform.queues.makeSerialQueue(kQueueLabel)) {}

Capture::~Capture() = default;

void Capture::start(const std::string& job, const std::optional<std::string>& device) {
  using capture::CaptureErrorCode;
  auto& service = platform_.captureService;

  if (!service.requestMicrophoneAccess()) {
    throw capture::captureError(CaptureErrorCode::microphoneAccessDenied);
  }
  const platform::ShareableContent content = service.shareableContent();
  if (content.displays.empty()) throw capture::captureError(CaptureErrorCode::noDisplay);
  const platform::Display& display = content.displays.front();
  // An empty identifier is a request too, and matches no device.
  if (device && !isListed(devices(platform_), *device)) {
    throw capture::captureError(CaptureErrorCode::microphoneUnavailable);
  }

  const auto callbacks = std::make_shared<capture::StreamCallbacks>(weak_from_this());
  const platform::ContentFilter filter{display, {}, {}};
  std::unique_ptr<platform::Stream> stream =
      service.makeStream(filter, streamConfiguration(device), callbacks);

  origin_ = platform_.clock.hostSeconds();
  microphone_ = std::make_unique<audio::AudioChunks>(job, "microphone", origin_, platform_.clock);
  system_ = std::make_unique<audio::AudioChunks>(job, "system", origin_, platform_.clock);

  // A failed registration releases the stream with this frame.
  stream->addStreamOutput(callbacks, platform::kOutputTypeAudio, queue_);
  stream->addStreamOutput(callbacks, platform::kOutputTypeMicrophone, queue_);
  stream_ = std::move(stream);
  stream_->startCapture();

  queue_->sync([this] { setUpHeartbeat(); });
}

void Capture::setUpHeartbeat() {
  auto timer = queue_->makeTimer(kHeartbeatIntervalSeconds, [weak = weak_from_this()] {
    if (const auto session = weak.lock()) session->heartbeat();
  });
  timer_ = std::move(timer);
  timer_->resume();
}

nlohmann::json Capture::devices(platform::Platform& platform) {
  return devices::listInputDevices(platform.deviceDiscovery);
}

Capture::Holdings Capture::inspect() const {
  return {
      origin_, microphone_ != nullptr, system_ != nullptr, stream_ != nullptr, timer_ != nullptr,
      stopped_};
}

}  // namespace mirevo
