// Between Foundation's strings and errors and the platform's.
//
// Objective-C++ only.
#pragma once

#include <Foundation/Foundation.h>

#include <optional>
#include <string>

#include "platform/Error.hpp"

namespace mirevo::platform::mac {

// UTF-8; empty for nil.
std::string stdString(NSString* text);
// Nil when `text` is not valid UTF-8.
NSString* nsString(const std::string& text);
// The error's domain, code and localized description, unchanged. `error`
// must not be nil.
Error errorOf(NSError* error);
// As errorOf; none for nil (a completion handler's success).
std::optional<Error> errorIfAny(NSError* error);

}  // namespace mirevo::platform::mac
