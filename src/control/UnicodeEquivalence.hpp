// Compares identifiers under Unicode canonical equivalence, so that a session
// named with a precomposed "é" is stopped by the same name written as "e" and
// a combining accent.
//
// Threads: any.
#pragma once

#include <string_view>

namespace mirevo::control {

// True when both UTF-8 strings have the same canonical composition (NFC).
// Identical bytes always match; text that is not valid UTF-8 matches only
// itself.
bool canonicallyEquivalent(std::string_view left, std::string_view right);

}  // namespace mirevo::control
