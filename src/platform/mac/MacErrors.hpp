// The errors of the macOS backend. The system's own errors (an NSError) keep
// their domain, code and description; the backend's own, for answers that
// never come or cannot be used, have the domain "MirevoPlatform".
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/Error.hpp"

namespace mirevo::platform::mac {

inline constexpr const char* kMacErrorDomain = "MirevoPlatform";

enum class MacErrorCode : std::int64_t {
  timedOut = 1,        // a completion handler was not called in time
  noAnswer = 2,        // a completion handler brought neither a result nor an error
  foreignQueue = 3,    // an output queue that is not a dispatch queue
  unknownDisplay = 4,  // a display that the last shareable content did not list
};

// An NSError's parts as they are; a missing domain or description (which a
// real NSError never has) gets a stand-in rather than an empty text.
Error errorFromParts(const char* domain, std::int64_t code, const char* description);

// `operation` names what was awaited, as the start of a sentence.
Error timeoutError(std::string_view operation, double seconds);
Error noAnswerError(std::string_view operation);
Error foreignQueueError();
Error unknownDisplayError();

}  // namespace mirevo::platform::mac
