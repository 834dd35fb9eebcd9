// Strict decoding of standard base64 (alphabet with `+` and `/`, `=` padding
// to a multiple of four characters, no line breaks), as audio chunks carry it.
//
// Threads: any; no shared state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace mirevo::inspect {

// The decoded bytes, or nothing when `text` is not well-formed base64: a
// length that is not a multiple of four, a character outside the alphabet,
// or padding anywhere but at the end.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

}  // namespace mirevo::inspect
