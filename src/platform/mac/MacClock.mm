#include "platform/mac/MacClock.hpp"

#include <CoreMedia/CoreMedia.h>
#include <Foundation/Foundation.h>

namespace mirevo::platform::mac {

double MacClock::hostSeconds() const {
  return CMTimeGetSeconds(CMClockGetTime(CMClockGetHostTimeClock()));
}

double MacClock::uptimeSeconds() const {
  return [NSProcessInfo processInfo].systemUptime;
}

}  // namespace mirevo::platform::mac
