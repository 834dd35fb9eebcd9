#include "platform/mac/ObjCBridge.hpp"

#include "platform/mac/MacErrors.hpp"

namespace mirevo::platform::mac {

std::string stdString(NSString* text) {
  const char* bytes = text.UTF8String;
  return bytes != nullptr ? std::string(bytes) : std::string();
}

NSString* nsString(const std::string& text) {
  return [NSString stringWithUTF8String:text.c_str()];
}

// The main thread runs no run loop, so nothing drains an autorelease pool
// there: the domain and the localized text (autoreleased) go in a pool of
// their own. Nothing is thrown inside it.
Error errorOf(NSError* error) {
  std::string domain;
  std::string description;
  std::int64_t code = 0;
  @autoreleasepool {
    domain = stdString(error.domain);
    description = stdString(error.localizedDescription);
    code = static_cast<std::int64_t>(error.code);
  }
  return errorFromParts(domain.c_str(), code, description.c_str());
}

std::optional<Error> errorIfAny(NSError* error) {
  if (error == nil) return std::nullopt;
  return errorOf(error);
}

}  // namespace mirevo::platform::mac
