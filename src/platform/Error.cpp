#include "platform/Error.hpp"

#include <utility>

namespace mirevo::platform {

Error::Error(std::string domain, std::int64_t code, std::string description)
    : domain_(std::move(domain)), code_(code), description_(std::move(description)) {}

Error osStatusError(std::int32_t status) {
  return Error(
      kOSStatusErrorDomain, static_cast<std::int64_t>(status),
      "The audio samples could not be copied (OSStatus error " + std::to_string(status) + ").");
}

}  // namespace mirevo::platform
