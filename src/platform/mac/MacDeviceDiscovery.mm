#include "platform/mac/MacDeviceDiscovery.hpp"

#include <AVFoundation/AVFoundation.h>

#include "platform/mac/ObjCBridge.hpp"

namespace mirevo::platform::mac {
namespace {

CaptureDevice deviceOf(AVCaptureDevice* device) {
  return {stdString(device.uniqueID), stdString(device.localizedName)};
}

}  // namespace

// Each call has its own autorelease pool: the calling thread has none.
std::optional<CaptureDevice> MacDeviceDiscovery::defaultAudioDevice() {
  @autoreleasepool {
    AVCaptureDevice* device = [AVCaptureDevice defaultDeviceWithMediaType:AVMediaTypeAudio];
    if (device == nil) return std::nullopt;
    return deviceOf(device);
  }
}

std::vector<CaptureDevice> MacDeviceDiscovery::discoverAudioDevices() {
  @autoreleasepool {
    AVCaptureDeviceDiscoverySession* session = [AVCaptureDeviceDiscoverySession
        discoverySessionWithDeviceTypes:@[
          AVCaptureDeviceTypeMicrophone, AVCaptureDeviceTypeExternal
        ]
                              mediaType:AVMediaTypeAudio
                               position:AVCaptureDevicePositionUnspecified];
    std::vector<CaptureDevice> devices;
    for (AVCaptureDevice* device in session.devices) devices.push_back(deviceOf(device));
    return devices;
  }
}

}  // namespace mirevo::platform::mac
