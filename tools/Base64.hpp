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

// The same for base64 as it stands, unread, inside a JSON string of the
// agent's: every '/' written "\/". A bare '/' or any other escape is refused.
// Decodes into `bytes` (whose room is reused from call to call); false when
// the text is not well-formed.
bool decodeJsonEscapedBase64(std::string_view jsonText, std::vector<std::uint8_t>& bytes);

}  // namespace mirevo::inspect
