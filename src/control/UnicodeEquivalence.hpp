// Compares identifiers under Unicode canonical equivalence, so that a session
// named with a precomposed "é" is stopped by the same name written as "e" and
// a combining accent. On Apple's systems Core Foundation decides
// (UnicodeEquivalenceCoreFoundation.cpp), elsewhere utf8proc
// (UnicodeEquivalenceUtf8proc.cpp); both pass the same table of cases.
//
// Threads: any.
#pragma once

#include <string_view>

namespace mirevo::control {

// True when both UTF-8 strings have the same canonical decomposition (NFD),
// which holds exactly when their canonical compositions (NFC) are the same.
// Identical bytes always match; text that is not valid UTF-8 matches only
// itself.
bool canonicallyEquivalent(std::string_view left, std::string_view right);

}  // namespace mirevo::control
