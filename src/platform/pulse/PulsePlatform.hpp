// The Linux platform: PulseAudio, or PipeWire's pulse server, through libpulse.
// Microphones are the server's capture sources that are not monitors; the
// system's audio is the monitor of an output sink.
#pragma once

#include <memory>

#include "platform/Platform.hpp"

namespace mirevo::platform::pulse {

// Owns every Linux service behind one Platform. Constructing it touches no
// server: each operation connects when it needs to.
class PulsePlatform {
 public:
  PulsePlatform();
  ~PulsePlatform();
  PulsePlatform(const PulsePlatform&) = delete;
  PulsePlatform& operator=(const PulsePlatform&) = delete;

  Platform& platform();

 private:
  struct Services;
  std::unique_ptr<Services> services_;
};

}  // namespace mirevo::platform::pulse
