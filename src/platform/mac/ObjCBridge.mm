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

Error errorOf(NSError* error) {
  return errorFromParts(error.domain.UTF8String, static_cast<std::int64_t>(error.code),
                        error.localizedDescription.UTF8String);
}

}  // namespace mirevo::platform::mac
