#include "platform/pulse/PulseCaptureService.hpp"

#include <algorithm>

#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/PulseQueries.hpp"
#include "platform/pulse/PulseStream.hpp"

namespace mirevo::platform::pulse {

ShareableContent PulseCaptureService::shareableContent() {
  PulseConnection connection("Mirevo Capture content");
  PulseConnection::Lock lock(connection);
  const std::string defaultSink = serverDefaults(connection).sink;
  ShareableContent content;
  for (const auto& sink : listSinks(connection)) {
    content.displays.push_back({sink.name, sink.description, sink.monitorSource});
  }
  std::stable_partition(content.displays.begin(), content.displays.end(),
                        [&](const Display& display) { return display.id == defaultSink; });
  return content;
}

std::unique_ptr<Stream> PulseCaptureService::makeStream(const ContentFilter& filter,
                                                        const StreamConfiguration& configuration,
                                                        std::shared_ptr<StreamDelegate> delegate) {
  return std::make_unique<PulseStream>(filter, configuration, std::move(delegate), clock_, worker_);
}

}  // namespace mirevo::platform::pulse
